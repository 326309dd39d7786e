// qdriver: starts a launcher the way a user or a deployment tool would, and watches it from
// outside.
//
//   qdriver.exe REQUEST RESULT
//
// REQUEST holds "key=value" lines (values marked hex are hex-encoded bytes, so that quotes, blanks
// and GBK bytes reach the launcher exactly):
//   exe=PATH            the program to start (Windows path)
//   args=HEX            its argument string; the command line is "PATH" followed by a blank and it
//   cmdline=HEX         a whole command line instead (program name included)
//   cwd=PATH            its current directory
//   temp=PATH           TMP and TEMP for it (Wine ignores the Unix ones)
//   env=NAME=VALUE      a further environment variable (repeatable)
//   timeout_ms=N        how long everything may take (default 60000); then the tree is killed
//   press=ok|none       what to do with each message box of the launcher (default ok)
//   hold_ms=N           how long to leave each message box open before pressing OK
//   kill_after_ms=N     terminate the launcher after N ms (fault tests)
//
// RESULT receives lines:
//   message HEXTEXT HEXCAPTION WARNINGICON   one per message box, in order
//   window HEXCLASS VISIBLE                  one per top-level window of the launcher, message
//                                            boxes included, as first seen (the window list is
//                                            read every 20 ms while it runs)
//   exit N MS | timeout | killed | start-failed ERROR   (MS: how long the launcher ran)
// Every wait has a time-out; the launcher and everything it starts run in a job object that is
// killed when the driver ends.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
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

struct Request {
  std::string exe, args, cmdline, cwd, temp;
  std::vector<std::string> env;
  bool hasArgs = false, hasCmdline = false;
  DWORD timeoutMs = 60000, holdMs = 0, killAfterMs = 0;
  bool press = true;
};

bool ReadRequest(const char* path, Request* r) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  char line[65536 * 2 + 64];
  while (std::fgets(line, sizeof line, f)) {
    std::string s(line);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    const std::size_t eq = s.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = s.substr(0, eq), value = s.substr(eq + 1);
    if (key == "exe")
      r->exe = value;
    else if (key == "args")
      r->args = Unhex(value), r->hasArgs = true;
    else if (key == "cmdline")
      r->cmdline = Unhex(value), r->hasCmdline = true;
    else if (key == "cwd")
      r->cwd = value;
    else if (key == "temp")
      r->temp = value;
    else if (key == "env")
      r->env.push_back(value);
    else if (key == "timeout_ms")
      r->timeoutMs = std::strtoul(value.c_str(), nullptr, 10);
    else if (key == "hold_ms")
      r->holdMs = std::strtoul(value.c_str(), nullptr, 10);
    else if (key == "kill_after_ms")
      r->killAfterMs = std::strtoul(value.c_str(), nullptr, 10);
    else if (key == "press")
      r->press = value != "none";
  }
  std::fclose(f);
  return true;
}

// The driver's environment with TMP/TEMP replaced and the extra variables added.
std::vector<char> BuildEnvironment(const Request& r) {
  std::vector<std::string> vars;
  const char* block = GetEnvironmentStringsA();
  for (const char* p = block; *p; p += std::strlen(p) + 1) {
    std::string var(p);
    std::string upper = var.substr(0, var.find('='));
    for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    if (!r.temp.empty() && (upper == "TMP" || upper == "TEMP")) continue;
    vars.push_back(var);
  }
  FreeEnvironmentStringsA(const_cast<char*>(block));
  if (!r.temp.empty()) {
    vars.push_back("TMP=" + r.temp);
    vars.push_back("TEMP=" + r.temp);
  }
  for (const std::string& e : r.env) vars.push_back(e);
  std::vector<char> out;
  for (const std::string& v : vars) out.insert(out.end(), v.c_str(), v.c_str() + v.size() + 1);
  out.push_back('\0');
  return out;
}

struct BoxSearch {
  DWORD pid;
  HWND found;
  std::vector<HWND>* seen;  // every top-level window of the process met so far
  std::FILE* out;
};

BOOL CALLBACK FindBox(HWND window, LPARAM param) {
  BoxSearch* search = reinterpret_cast<BoxSearch*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != search->pid) return TRUE;
  char cls[64] = {};
  GetClassNameA(window, cls, sizeof cls);
  const bool visible = IsWindowVisible(window) != FALSE;
  bool known = false;
  for (HWND w : *search->seen) known = known || w == window;
  if (!known) {
    search->seen->push_back(window);
    std::fprintf(search->out, "window %s %d\n", Hex(cls).c_str(), visible ? 1 : 0);
    std::fflush(search->out);
  }
  if (!search->found && std::strcmp(cls, "#32770") == 0 && visible) search->found = window;
  return TRUE;
}

// The pixels of `icon` drawn at the origin of a 32x32 area filled with `background`.
std::vector<COLORREF> RenderIcon(HICON icon, COLORREF background) {
  std::vector<COLORREF> pixels;
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, 32, 32);
  HGDIOBJ old = SelectObject(dc, bitmap);
  HBRUSH brush = CreateSolidBrush(background);
  RECT all = {0, 0, 32, 32};
  FillRect(dc, &all, brush);
  DeleteObject(brush);
  DrawIconEx(dc, 0, 0, icon, 32, 32, 0, nullptr, DI_NORMAL);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) pixels.push_back(GetPixel(dc, x, y));
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
  return pixels;
}

int Distance(const std::vector<COLORREF>& a, const std::vector<COLORREF>& b) {
  int d = 0;
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
    d += std::abs(GetRValue(a[i]) - GetRValue(b[i])) + std::abs(GetGValue(a[i]) - GetGValue(b[i])) +
         std::abs(GetBValue(a[i]) - GetBValue(b[i]));
  }
  return d;
}

// Icon handles belong to their process, so the box's icon is told apart by its pixels: the
// control's image is compared with the system's four message-box icons drawn here, and the
// nearest one wins. Retried for a while, since the box may not have painted yet.
bool IsWarningIcon(HWND box) {
  HWND control = GetDlgItem(box, 1088);
  if (!control) return false;
  for (int attempt = 0; attempt < 25; ++attempt) {
    Sleep(40);
    // Another process's window cannot be read through its own DC; the screen can.
    POINT origin = {0, 0};
    ClientToScreen(control, &origin);
    HDC dc = GetDC(nullptr);
    std::vector<COLORREF> shown;
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 32; ++x) shown.push_back(GetPixel(dc, origin.x + x, origin.y + y));
    ReleaseDC(nullptr, dc);
    const COLORREF background = shown[0];
    const LPCSTR candidates[] = {IDI_WARNING, IDI_ERROR, IDI_INFORMATION, IDI_QUESTION};
    int best = -1, bestDistance = 0;
    for (int i = 0; i < 4; ++i) {
      const int d = Distance(shown, RenderIcon(LoadIconA(nullptr, candidates[i]), background));
      if (best < 0 || d < bestDistance) best = i, bestDistance = d;
    }
    if (bestDistance < 32 * 32 * 8) return best == 0;  // close enough to be a drawn icon
  }
  return false;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: qdriver REQUEST RESULT\n");
    return 2;
  }
  Request r;
  if (!ReadRequest(argv[1], &r)) {
    std::fprintf(stderr, "qdriver: cannot read %s\n", argv[1]);
    return 2;
  }
  std::FILE* out = std::fopen(argv[2], "wb");
  if (!out) return 2;

  std::string commandLine = r.hasCmdline ? r.cmdline : "\"" + r.exe + "\"";
  if (!r.hasCmdline && r.hasArgs) commandLine += " " + r.args;
  std::vector<char> cmd(commandLine.begin(), commandLine.end());
  cmd.push_back('\0');
  std::vector<char> env = BuildEnvironment(r);

  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);

  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessA(r.exe.empty() ? nullptr : r.exe.c_str(), cmd.data(), nullptr, nullptr, FALSE,
                      CREATE_SUSPENDED, env.data(), r.cwd.empty() ? nullptr : r.cwd.c_str(), &si,
                      &pi)) {
    std::fprintf(out, "start-failed %lu\n", GetLastError());
    std::fclose(out);
    return 1;
  }
  AssignProcessToJobObject(job, pi.hProcess);
  ResumeThread(pi.hThread);
  CloseHandle(pi.hThread);

  const DWORD start = GetTickCount();
  bool killed = false;
  std::vector<HWND> seen;
  for (;;) {
    if (WaitForSingleObject(pi.hProcess, 20) == WAIT_OBJECT_0) break;
    const DWORD elapsed = GetTickCount() - start;
    if (r.killAfterMs && elapsed >= r.killAfterMs) {
      TerminateProcess(pi.hProcess, 0xDEAD);
      WaitForSingleObject(pi.hProcess, 5000);
      killed = true;
      break;
    }
    if (elapsed >= r.timeoutMs) {
      std::fprintf(out, "timeout\n");
      std::fclose(out);
      TerminateJobObject(job, 1);
      return 1;
    }
    BoxSearch search = {pi.dwProcessId, nullptr, &seen, out};
    EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
    if (!search.found || !r.press) continue;
    char text[4096] = {}, caption[512] = {};
    GetDlgItemTextA(search.found, 0xFFFF, text, sizeof text);
    GetWindowTextA(search.found, caption, sizeof caption);
    const bool warning = IsWarningIcon(search.found);
    std::fprintf(out, "message %s %s %d\n", Hex(text).c_str(), Hex(caption).c_str(),
                 warning ? 1 : 0);
    std::fflush(out);
    if (r.holdMs) Sleep(r.holdMs);
    PostMessageA(search.found, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(search.found, IDOK)));
    for (int i = 0; i < 250 && IsWindow(search.found); ++i) Sleep(20);
  }
  if (killed) {
    std::fprintf(out, "killed\n");
  } else {
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    std::fprintf(out, "exit %lu %lu\n", code, GetTickCount() - start);
  }
  std::fclose(out);
  CloseHandle(pi.hProcess);
  // Whatever the launcher started and left running is ended with the job.
  CloseHandle(job);
  return 0;
}
