#include <windows.h>

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "fsutil/file_system.h"
#include "launcher/launcher_state.h"
#include "launcher/work_path.h"
#include "payload/extract.h"
#include "payload/manifest.h"
#include "payload/progress_math.h"

namespace {
// Points TMP and TEMP (what GetTempPathA reads) at `dir` for the life of the object.
class TempDirectory {
 public:
  explicit TempDirectory(const std::string& dir) {
    GetEnvironmentVariableA("TMP", saved_, sizeof saved_);
    SetEnvironmentVariableA("TMP", dir.c_str());
  }
  ~TempDirectory() { SetEnvironmentVariableA("TMP", saved_[0] ? saved_ : nullptr); }

 private:
  char saved_[MAX_PATH] = {};
};

std::string FreshDirectory(const char* stem) {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  const std::string dir = std::string(temp) + stem + std::to_string(GetTickCount());
  CreateDirectoryA(dir.c_str(), nullptr);
  return dir;
}

std::string ReadWholeFile(const std::string& path) {
  HANDLE f =
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return "<missing>";
  char buffer[4096];
  DWORD got = 0;
  ReadFile(f, buffer, sizeof buffer, &got, nullptr);
  CloseHandle(f);
  return std::string(buffer, got);
}
}  // namespace

TEST(MulDivRounded, AgreesWithKernel32MulDiv) {
  const std::int32_t edges[] = {0,          1,           -1,    2,        -2,         3,
                                7,          100,         65536, -65536,   0x7FFFFFFF, -0x7FFFFFFF,
                                0x40000000, -0x40000000, 46341, 123456789};
  for (std::int32_t a : edges) {
    for (std::int32_t b : edges) {
      for (std::int32_t c : edges) {
        ASSERT_EQ(MulDivRounded(a, b, c), MulDiv(a, b, c)) << a << " " << b << " " << c;
      }
    }
  }
  std::mt19937 rng(42);
  for (int i = 0; i < 200000; ++i) {
    const int shift = static_cast<int>(rng() % 31);
    const auto pick = [&rng, shift] {
      return static_cast<std::int32_t>(rng()) >> (rng() % 2 ? shift : 0);
    };
    const std::int32_t a = pick(), b = pick(), c = pick();
    if (a == INT32_MIN || b == INT32_MIN || c == INT32_MIN) continue;
    ASSERT_EQ(MulDivRounded(a, b, c), MulDiv(a, b, c)) << a << " " << b << " " << c;
  }
}

TEST(MakeWorkPath, NamesFilesUnderTheTempDirectoryAndRefusesWhatDoesNotFit) {
  ResetLauncherState();
  char out[kShortPathBufferSize];
  {
    TempDirectory temp("C:\\windows\\temp");
    ASSERT_EQ(MakeWorkPath("SETUP.EXE", sizeof out, out), 1);
    EXPECT_STREQ(out, "C:\\windows\\temp\\quill_temp\\SETUP.EXE");
    lstrcpyA(g_state.workDirName, "quill_temp42");
    ASSERT_EQ(MakeWorkPath("", sizeof out, out), 1);
    EXPECT_STREQ(out, "C:\\windows\\temp\\quill_temp42\\");
    ResetLauncherState();
  }
  {
    // 3 + 236 + 1 = 240 characters of temp directory: the work directory fits 260 bytes, a file
    // in it with a 9-character name does not (261 bytes), but fits the 4096-byte buffers.
    const std::string longTemp = "C:\\" + std::string(236, 'd');
    TempDirectory temp(longTemp);
    ASSERT_EQ(MakeWorkPath("", sizeof out, out), 1);
    EXPECT_EQ(lstrlenA(out), 251);
    out[0] = 'X';
    EXPECT_EQ(MakeWorkPath("SETUP.EXE", sizeof out, out), 0);
    EXPECT_STREQ(out, "");
    char large[kPathBufferSize];
    EXPECT_EQ(MakeWorkPath("SETUP.EXE", sizeof large, large), 1);
    EXPECT_EQ(lstrlenA(large), 260);
  }
}

TEST(Manifest, RecordsEachEntryAsTrueInSectionArchives) {
  ResetLauncherState();
  const std::string root = FreshDirectory("manifest");
  TempDirectory temp(root);
  // Without a work directory the write fails, silently.
  RecordInManifest("EARLY.TXT");
  EXPECT_EQ(FileExists((root + "\\quill_temp").c_str()), 0u);

  // Nor in one that is there but not held by this run.
  CreateDirectoryA((root + "\\quill_temp").c_str(), nullptr);
  RecordInManifest("EARLY.TXT");
  EXPECT_EQ(FileExists((root + "\\quill_temp\\Archive.lst").c_str()), 0u);

  ASSERT_TRUE(HoldWorkDirectory((root + "\\quill_temp").c_str(), false));
  RecordInManifest("README.TXT");
  RecordInManifest("SETUP.EXE");
  RecordInManifest("DATA\\\xCE\xC4.DAT");  // a GBK name goes in as its bytes
  RecordInManifest("setup.exe");           // keys match without regard to case
  const std::string manifest = root + "\\quill_temp\\Archive.lst";
  EXPECT_EQ(ReadWholeFile(manifest),
            "[Archives]\r\nREADME.TXT=TRUE\r\nSETUP.EXE=TRUE\r\nDATA\\\xCE\xC4.DAT=TRUE\r\n");
  char value[16] = {};
  GetPrivateProfileStringA("Archives", "Setup.Exe", "", value, sizeof value, manifest.c_str());
  EXPECT_STREQ(value, "TRUE");
  ReleaseWorkDirectory();
  DeleteTree(root.c_str(), 1);
}

TEST(AddEntrySize, SumsTheStoredSizesOfNamedEntriesInEveryLanguage) {
  ResetLauncherState();
  EnumResourceNamesA(GetModuleHandleA(nullptr), kPayloadType, AddEntrySize, 0);
  EXPECT_EQ(g_state.totalPayloadBytes, 31u + 1000u);  // ALPHA.TXT (1033) and BETA.TXT (2052)
}
