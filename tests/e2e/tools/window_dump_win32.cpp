// qinspect: dumps the windows of the processes running a given program, as another program sees
// them (run it on the same Wine desktop as the launcher).
//
//   qinspect.exe EXENAME
//   qinspect.exe --font FACEHEX POINTS TEXTHEX
//   qinspect.exe --close EXENAME CLASS
//
// Prints one line per top-level window of every process whose executable is EXENAME (visible or
// not), followed by one line per child window:
//   window class=NAME style=HEX exstyle=HEX rect=L,T,R,B client=L,T,R,B visible=0|1 text=HEX
//   child id=N class=NAME style=HEX exstyle=HEX rect=L,T,R,B client=L,T,R,B text=HEX
// `rect` is the window rectangle and `client` the client area, both in screen coordinates. Last:
//   screen W H
//   colour NAME R G B     the system colours the gauge is drawn with (btnface, btnshadow)
//
// With --font it asks for the font a dialog template with that face and point size gets (as the
// dialog manager asks for it) and prints the face the system gave and how many characters of TEXT
// that face has no glyph for:
//   font FACEHEX missing N
//
// With --close it does to every window of class CLASS of those processes what a click on the
// window's close box does: it posts WM_SYSCOMMAND with SC_CLOSE. It prints "closed N".
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {
std::vector<DWORD> g_pids;

std::string Hex(const char* text) {
  std::string out;
  char two[3];
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    std::snprintf(two, sizeof two, "%02x", *p);
    out += two;
  }
  return out.empty() ? "-" : out;
}

std::string Unhex(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
    out += static_cast<char>(std::strtoul(text.substr(i, 2).c_str(), nullptr, 16));
  }
  return out;
}

void Describe(HWND window) {
  char cls[256] = {}, text[1024] = {};
  GetClassNameA(window, cls, sizeof cls);
  GetWindowTextA(window, text, sizeof text);
  RECT bounds, client;
  GetWindowRect(window, &bounds);
  GetClientRect(window, &client);
  MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&client), 2);
  std::printf(
      "class=%s style=%08lx exstyle=%08lx rect=%ld,%ld,%ld,%ld client=%ld,%ld,%ld,%ld "
      "text=%s",
      cls, static_cast<unsigned long>(GetWindowLongA(window, GWL_STYLE)),
      static_cast<unsigned long>(GetWindowLongA(window, GWL_EXSTYLE)), bounds.left, bounds.top,
      bounds.right, bounds.bottom, client.left, client.top, client.right, client.bottom,
      Hex(text).c_str());
}

BOOL CALLBACK EachChild(HWND window, LPARAM) {
  std::printf("child id=%d ", GetDlgCtrlID(window));
  Describe(window);
  std::printf("\n");
  return TRUE;
}

const char* g_closeClass = nullptr;
int g_closed = 0;

BOOL CALLBACK EachTopLevel(HWND window, LPARAM) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  for (DWORD p : g_pids) {
    if (p != pid) continue;
    if (g_closeClass) {
      char cls[256] = {};
      GetClassNameA(window, cls, sizeof cls);
      if (lstrcmpiA(cls, g_closeClass) == 0) {
        PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        ++g_closed;
      }
      continue;
    }
    std::printf("window visible=%d ", IsWindowVisible(window) ? 1 : 0);
    Describe(window);
    std::printf("\n");
    EnumChildWindows(window, EachChild, 0);
  }
  return TRUE;
}
}  // namespace

int ReportFont(const char* faceHex, int points, const char* textHex) {
  std::string face = Unhex(faceHex), text = Unhex(textHex);
  HDC dc = GetDC(nullptr);
  LOGFONTA wanted = {};
  wanted.lfHeight = -MulDiv(points, GetDeviceCaps(dc, LOGPIXELSY), 72);
  wanted.lfCharSet = DEFAULT_CHARSET;
  lstrcpynA(wanted.lfFaceName, face.c_str(), LF_FACESIZE);
  HFONT font = CreateFontIndirectA(&wanted);
  HGDIOBJ kept = SelectObject(dc, font);
  char got[LF_FACESIZE] = {};
  GetTextFaceA(dc, sizeof got, got);
  std::vector<WCHAR> wide(text.size() + 1);
  const int count = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                        wide.data(), static_cast<int>(wide.size()));
  std::vector<WORD> glyphs(count + 1);
  GetGlyphIndicesW(dc, wide.data(), count, glyphs.data(), GGI_MARK_NONEXISTING_GLYPHS);
  int missing = 0;
  for (int i = 0; i < count; ++i) missing += glyphs[i] == 0xFFFF;
  std::printf("font %s missing %d\n", Hex(got).c_str(), missing);
  SelectObject(dc, kept);
  DeleteObject(font);
  ReleaseDC(nullptr, dc);
  return 0;
}

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--font") {
    return ReportFont(argv[2], std::atoi(argv[3]), argv[4]);
  }
  const bool close = argc == 4 && std::string(argv[1]) == "--close";
  if (argc != 2 && !close) {
    std::fprintf(
        stderr,
        "usage: qinspect EXENAME | --font FACEHEX POINTS TEXTHEX | --close EXENAME CLASS\n");
    return 2;
  }
  const char* exeName = close ? argv[2] : argv[1];
  if (close) g_closeClass = argv[3];
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL ok = Process32First(snapshot, &entry); ok; ok = Process32Next(snapshot, &entry)) {
    if (lstrcmpiA(entry.szExeFile, exeName) == 0) g_pids.push_back(entry.th32ProcessID);
  }
  CloseHandle(snapshot);
  std::printf("processes %u\n", static_cast<unsigned>(g_pids.size()));
  EnumWindows(EachTopLevel, 0);
  if (close) {
    std::printf("closed %d\n", g_closed);
    return 0;
  }
  std::printf("screen %d %d\n", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
  const struct {
    const char* name;
    int index;
  } colours[] = {{"btnface", COLOR_BTNFACE}, {"btnshadow", COLOR_BTNSHADOW}};
  for (const auto& c : colours) {
    const COLORREF rgb = GetSysColor(c.index);
    std::printf("colour %s %d %d %d\n", c.name, GetRValue(rgb), GetGValue(rgb), GetBValue(rgb));
  }
  return 0;
}
