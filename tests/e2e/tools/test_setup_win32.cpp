// qsetup: a stand-in setup program for the end-to-end tests, packed as SETUP.EXE or
// uninstall.exe. It reports what it received and, on request, behaves like a real one would.
//
// Its instructions come from the file named by the environment variable QUILL_TEST_SETUP (the
// launcher passes its environment on). "key=value" lines, carried out in this order:
//   report=PATH        where to write the report (required)
//   short=PATH         also report the 8.3 form of PATH (as the launcher would find it)
//   window=CLASS       create a top-level window of that class
//   idle=1             pump messages (so the launcher sees the program idle for input)
//   watch_ms=N         for up to N ms, watch for the launcher's progress dialog to be hidden or
//                      destroyed
//   mkdir=NAME         create the directory NAME (relative to the current directory); repeatable
//   leave=NAME         create the file NAME (relative to the current directory); repeatable
//   hold=MS,MARKER,NAME  start a copy of this program (MARKER.exe) that opens NAME (relative to
//                      the current directory) without sharing, creates the file MARKER, keeps
//                      NAME open for MS ms, then closes it and deletes MARKER; this program goes
//                      on once MARKER exists (at most 10 s). qdriver's job ends the copy at the
//                      latest when qdriver ends.
//   sleep_ms=N         sleep N ms before ending
//   digest=1           report every file below the current directory with its content's digest
//                      as it is now (repeatable: before and after a sleep_ms, say)
//   mark=PATH          create the file PATH (an absolute path outside the work directory)
//   wait_for=PATH      wait until the file PATH exists (at most 30 s): another program's mark
//   exit=N             the exit code (default 0)
//
// The report has one "key HEX" line per fact (HEX: the bytes, "-" when empty):
//   module, cmdline (GetCommandLineA byte for byte), cwd, short, file (one per file below the
//   current directory, relative), digest (per digest=1 and file: the relative name, a blank and
//   the FNV-1a 64 of its content in 16 hex digits), dialog_seen (0/1), dialog_gone_ms (-1 if it
//   stayed; counted from the start of the watch) and dialog_gone_since_start_ms (counted from the
//   process's creation)
#include <windows.h>

#include <cstdint>
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

struct Report {
  std::string text;
  void Add(const char* key, const std::string& value) {
    text += key;
    text += ' ';
    text += Hex(value);
    text += '\n';
  }
};

std::string Digest(const std::string& path) {
  std::uint64_t hash = 0xcbf29ce484222325ull;
  HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return "unreadable";
  unsigned char buffer[65536];
  DWORD got = 0;
  while (ReadFile(f, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    for (DWORD i = 0; i < got; ++i) hash = (hash ^ buffer[i]) * 0x100000001b3ull;
  }
  CloseHandle(f);
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

void ListFiles(const std::string& dir, const std::string& prefix, Report* report,
               bool digests = false) {
  WIN32_FIND_DATAA found;
  HANDLE listing = FindFirstFileA((dir + "\\*").c_str(), &found);
  if (listing == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ListFiles(dir + "\\" + name, prefix + name + "\\", report, digests);
    } else if (digests) {
      report->Add("digest", prefix + name + " " + Digest(dir + "\\" + name));
    } else {
      report->Add("file", prefix + name);
    }
  } while (FindNextFileA(listing, &found));
  FindClose(listing);
}

void Pump() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
}

// Sleeps in a way that keeps the program idle for input when `idle` is set.
void Wait(DWORD ms, bool idle) {
  if (!idle) {
    Sleep(ms);
    return;
  }
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < ms) {
    Pump();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

constexpr const char* kHoldVariable = "QUILL_TEST_HOLD";

// The copy started by hold=: holds the file, then tidies up after itself.
int Hold(const std::string& request) {
  const std::size_t first = request.find(','), second = request.find(',', first + 1);
  if (first == std::string::npos || second == std::string::npos) return 93;
  const DWORD ms = std::strtoul(request.substr(0, first).c_str(), nullptr, 10);
  const std::string marker = request.substr(first + 1, second - first - 1);
  const std::string name = request.substr(second + 1);
  HANDLE held = CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE flag = CreateFileA(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (flag != INVALID_HANDLE_VALUE) CloseHandle(flag);
  Sleep(ms);
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  DeleteFileA(marker.c_str());
  return held == INVALID_HANDLE_VALUE ? 94 : 0;
}

void StartHolder(const std::string& request) {
  const std::size_t first = request.find(','), second = request.find(',', first + 1);
  if (first == std::string::npos || second == std::string::npos) return;
  const std::string marker = request.substr(first + 1, second - first - 1);
  // A copy beside the marker does the holding, so that this program's own file (an unpacked
  // entry) is not kept in use too.
  char module[4096] = {};
  GetModuleFileNameA(nullptr, module, sizeof module);
  const std::string copy = marker + ".exe";
  if (!CopyFileA(module, copy.c_str(), FALSE)) return;
  char commandLine[] = "qsetup-holder";
  SetEnvironmentVariableA(kHoldVariable, request.c_str());
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  const BOOL started = CreateProcessA(copy.c_str(), commandLine, nullptr, nullptr, FALSE, 0,
                                      nullptr, nullptr, &startup, &process);
  SetEnvironmentVariableA(kHoldVariable, nullptr);
  if (!started) return;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  for (int i = 0; i < 500 && GetFileAttributesA(marker.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) {
    Sleep(20);
  }
}
}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  char holdSpec[8192] = {};
  if (GetEnvironmentVariableA(kHoldVariable, holdSpec, sizeof holdSpec)) return Hold(holdSpec);
  char requestPath[4096] = {};
  if (!GetEnvironmentVariableA("QUILL_TEST_SETUP", requestPath, sizeof requestPath)) return 90;
  std::FILE* request = std::fopen(requestPath, "rb");
  if (!request) return 91;

  // The command line and the directory as they were at the start, before anything else happens.
  Report report;
  char module[4096] = {}, cwd[4096] = {};
  GetModuleFileNameA(nullptr, module, sizeof module);
  GetCurrentDirectoryA(sizeof cwd, cwd);
  report.Add("module", module);
  report.Add("cmdline", GetCommandLineA());
  report.Add("cwd", cwd);
  // Looked for before this program takes any message: until then the launcher is still waiting.
  const bool seen = FindWindowA("QuillExtracting", nullptr) != nullptr;
  ListFiles(cwd, "", &report);

  // Milliseconds this process had been running when it read its request: the launcher's idle
  // wait started when it created this process.
  FILETIME created, exited, kernel, user, now;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  GetSystemTimeAsFileTime(&now);
  const auto ticks = [](const FILETIME& t) {
    return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  const DWORD startTick =
      GetTickCount() - static_cast<DWORD>((ticks(now) - ticks(created)) / 10000);

  std::string reportPath;
  int exitCode = 0;
  bool idle = false;
  char line[8192];
  while (std::fgets(line, sizeof line, request)) {
    std::string s(line);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    const std::size_t eq = s.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = s.substr(0, eq), value = s.substr(eq + 1);
    if (key == "report") {
      reportPath = value;
    } else if (key == "short") {
      char shortPath[4096] = {};
      GetShortPathNameA(value.c_str(), shortPath, sizeof shortPath);
      report.Add("short", shortPath);
    } else if (key == "window") {
      WNDCLASSA wc = {};
      wc.lpfnWndProc = DefWindowProcA;
      wc.hInstance = instance;
      wc.lpszClassName = value.c_str();
      RegisterClassA(&wc);
      CreateWindowA(value.c_str(), "qsetup", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                    instance, nullptr);
    } else if (key == "idle") {
      idle = value == "1";
      if (idle) Pump();
    } else if (key == "watch_ms") {
      const DWORD limit = std::strtoul(value.c_str(), nullptr, 10);
      long goneMs = -1;
      const DWORD start = GetTickCount();
      while (seen && GetTickCount() - start < limit) {
        // Hidden counts as gone: destroying a shown window hides it first, and Wine's X11 driver
        // may then wait up to 2 s for the display before the window is really gone.
        HWND dialog = FindWindowA("QuillExtracting", nullptr);
        if (!dialog || !IsWindowVisible(dialog)) {
          goneMs = static_cast<long>(GetTickCount() - start);
          break;
        }
        Wait(20, idle);
      }
      report.Add("dialog_seen", seen ? "1" : "0");
      report.Add("dialog_gone_ms", std::to_string(goneMs));
      report.Add("dialog_gone_since_start_ms",
                 std::to_string(goneMs < 0 ? -1 : goneMs + static_cast<long>(start - startTick)));
    } else if (key == "leave") {
      HANDLE f = CreateFileA(value.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
      if (f != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(f, "left by qsetup", 14, &written, nullptr);
        CloseHandle(f);
      }
    } else if (key == "mkdir") {
      CreateDirectoryA(value.c_str(), nullptr);
    } else if (key == "hold") {
      StartHolder(value);
    } else if (key == "mark") {
      HANDLE f = CreateFileA(value.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
      if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
    } else if (key == "wait_for") {
      for (int i = 0; i < 1500 && GetFileAttributesA(value.c_str()) == INVALID_FILE_ATTRIBUTES;
           ++i) {
        Wait(20, idle);
      }
    } else if (key == "digest") {
      ListFiles(cwd, "", &report, true);
    } else if (key == "sleep_ms") {
      Wait(std::strtoul(value.c_str(), nullptr, 10), idle);
    } else if (key == "exit") {
      exitCode = std::atoi(value.c_str());
    }
  }
  std::fclose(request);

  std::FILE* out = reportPath.empty() ? nullptr : std::fopen(reportPath.c_str(), "wb");
  if (!out) return 92;
  std::fwrite(report.text.data(), 1, report.text.size(), out);
  std::fclose(out);
  return exitCode;
}
