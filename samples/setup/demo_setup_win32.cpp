// The demo package's setup program: what a real setup program does after the launcher has
// unpacked the package and started it from the work directory. It copies the package's files into
// an installation directory and writes INSTALL.LOG there with everything the launcher handed it.
//
//   SETUP.EXE [-a PACKAGEDIR] -n LAUNCHER <the launcher's arguments>
//
// The installation directory is the text after "/D=" (the last argument, blanks allowed, no
// quotes), or QuillDemo in the user's profile. With -ms among the arguments it works silently;
// otherwise it shows a small window while it copies. Exit code 0 when everything was copied,
// 1 when something could not be.
#include <windows.h>

#include <string>
#include <vector>

namespace {
const char kWindowClass[] = "QuillSetup";  // the class the launcher's instance guard looks for

std::string InstallDirectory(const std::string& commandLine) {
  const std::size_t at = commandLine.find("/D=");
  if (at != std::string::npos) return commandLine.substr(at + 3);
  char profile[MAX_PATH] = {};
  GetEnvironmentVariableA("USERPROFILE", profile, sizeof profile);
  return std::string(profile[0] ? profile : "C:") + "\\QuillDemo";
}

// True when `word` stands alone among the blank-separated words of the line (any letter case).
bool HasWord(const std::string& line, const char* word) {
  std::size_t start = 0;
  while (start < line.size()) {
    std::size_t end = line.find(' ', start);
    if (end == std::string::npos) end = line.size();
    if (lstrcmpiA(line.substr(start, end - start).c_str(), word) == 0) return true;
    start = end + 1;
  }
  return false;
}

// Every file below `dir`, relative to it.
void ListFiles(const std::string& dir, const std::string& prefix, std::vector<std::string>* out) {
  WIN32_FIND_DATAA found;
  HANDLE listing = FindFirstFileA((dir + "\\*").c_str(), &found);
  if (listing == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ListFiles(dir + "\\" + name, prefix + name + "\\", out);
    } else {
      out->push_back(prefix + name);
    }
  } while (FindNextFileA(listing, &found));
  FindClose(listing);
}

void CreateDirectories(const std::string& path) {
  for (std::size_t i = 3; i < path.size(); ++i) {
    if (path[i] == '\\') CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
  }
  CreateDirectoryA(path.c_str(), nullptr);
}

HWND ShowInstallingWindow(HINSTANCE instance) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = instance;
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = kWindowClass;
  RegisterClassA(&wc);
  HWND window = CreateWindowA(kWindowClass, "Quill demo setup: installing...",
                              WS_OVERLAPPED | WS_CAPTION | WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT,
                              360, 80, nullptr, nullptr, instance, nullptr);
  // Taking messages tells the launcher that this program is ready for input.
  for (DWORD start = GetTickCount(); GetTickCount() - start < 1000;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    Sleep(10);
  }
  return window;
}
}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  const std::string commandLine = GetCommandLineA();
  char cwd[MAX_PATH] = {}, module[MAX_PATH] = {};
  GetCurrentDirectoryA(sizeof cwd, cwd);
  GetModuleFileNameA(nullptr, module, sizeof module);
  const bool silent = HasWord(commandLine, "-ms") || HasWord(commandLine, "/ms");
  const std::string target = InstallDirectory(commandLine);

  HWND window = silent ? nullptr : ShowInstallingWindow(instance);

  std::vector<std::string> files;
  ListFiles(cwd, "", &files);
  std::string log = "Quill demo setup\r\n";
  log += "command line:      " + commandLine + "\r\n";
  log += "started as:        " + std::string(module) + "\r\n";
  log += "current directory: " + std::string(cwd) + "\r\n";
  log += "silent (-ms):      " + std::string(silent ? "yes" : "no") + "\r\n";
  log += "installed into:    " + target + "\r\n";
  bool ok = true;
  for (const std::string& name : files) {
    // The launcher's own bookkeeping and this program are not part of the installed product.
    if (lstrcmpiA(name.c_str(), "Archive.lst") == 0 || lstrcmpiA(name.c_str(), "SETUP.EXE") == 0) {
      continue;
    }
    const std::string to = target + "\\" + name;
    CreateDirectories(to.substr(0, to.rfind('\\')));
    const bool copied = CopyFileA((std::string(cwd) + "\\" + name).c_str(), to.c_str(), FALSE);
    ok = ok && copied;
    log += (copied ? "  copied  " : "  FAILED  ") + name + "\r\n";
  }

  CreateDirectories(target);
  HANDLE f = CreateFileA((target + "\\INSTALL.LOG").c_str(), GENERIC_WRITE, 0, nullptr,
                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  if (f == INVALID_HANDLE_VALUE || !WriteFile(f, log.data(), log.size(), &written, nullptr)) {
    ok = false;
  }
  if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
  if (window) DestroyWindow(window);
  return ok ? 0 : 1;
}
