// qholder: stands in for a running setup program or launcher in the instance-guard tests. It owns
// one top-level window of a given class and reports that window's state.
//
//   qholder.exe CLASS STATE [minimized] [busy] [lifetime_ms=N]
//
// STATE is rewritten every 50 ms (whole, through a rename) with lines "iconic 0|1" and
// "foreground 0|1"; its presence means the window exists. The program ends when the file
// STATE.stop appears, or after lifetime_ms (default 120000), so it never outlives a test.
// "busy" pumps no messages, like a launcher that is extracting: a caller that waits for the window
// to answer waits in vain.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
LRESULT CALLBACK HolderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) return 0;  // only the stop file ends the holder
  return DefWindowProcA(window, message, wParam, lParam);
}

void WriteState(HWND window, const std::string& path) {
  const std::string temporary = path + ".tmp";
  std::FILE* f = std::fopen(temporary.c_str(), "wb");
  if (!f) return;
  std::fprintf(f, "iconic %d\nforeground %d\n", IsIconic(window) ? 1 : 0,
               GetForegroundWindow() == window ? 1 : 0);
  std::fclose(f);
  MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: qholder CLASS STATE [minimized] [busy] [lifetime_ms=N]\n");
    return 2;
  }
  const char* className = argv[1];
  const std::string statePath = argv[2];
  const std::string stopPath = statePath + ".stop";
  bool minimized = false, busy = false;
  DWORD lifetimeMs = 120000;
  for (int i = 3; i < argc; ++i) {
    if (std::strcmp(argv[i], "minimized") == 0)
      minimized = true;
    else if (std::strcmp(argv[i], "busy") == 0)
      busy = true;
    else if (std::strncmp(argv[i], "lifetime_ms=", 12) == 0)
      lifetimeMs = std::strtoul(argv[i] + 12, nullptr, 10);
  }

  WNDCLASSA wc = {};
  wc.lpfnWndProc = HolderProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = className;
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  if (!RegisterClassA(&wc)) return 3;
  HWND window = CreateWindowA(className, "holder", WS_OVERLAPPEDWINDOW, 100, 100, 300, 200, nullptr,
                              nullptr, wc.hInstance, nullptr);
  if (!window) return 4;
  ShowWindow(window, minimized ? SW_SHOWMINNOACTIVE : SW_SHOWNORMAL);

  const DWORD start = GetTickCount();
  while (GetTickCount() - start < lifetimeMs &&
         GetFileAttributesA(stopPath.c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (!busy) {
      MSG msg;
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    } else {
      Sleep(50);
    }
    WriteState(window, statePath);
  }
  DeleteFileA(statePath.c_str());
  DestroyWindow(window);
  return 0;
}
