#include "handoff/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
const char kWork[] = "C:\\Temp\\quill_temp\\";

std::string Compose(HandoffProgram program, const CommandLineParts& parts,
                    std::size_t capacity = kCommandLineSize) {
  std::vector<char> out(capacity ? capacity : 1, 'x');
  const int fitted = ComposeCommandLine(program, parts, out.data(), capacity);
  const std::string text = capacity ? std::string(out.data()) : std::string();
  EXPECT_EQ(fitted, text.empty() ? 0 : 1);
  return text;
}
}  // namespace

TEST(ChooseProgram, UninstallerOnlyWhenPresentAndRecordedInThisRun) {
  struct Case {
    bool present;
    const char* recorded;
    HandoffProgram expected;
  } const cases[] = {
      {true, "TRUE", HandoffProgram::kUninstaller}, {true, "x", HandoffProgram::kUninstaller},
      {true, "", HandoffProgram::kSetup},  // stale file from an earlier run
      {false, "TRUE", HandoffProgram::kSetup},      {false, "", HandoffProgram::kSetup},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChooseProgram(c.present, c.recorded), c.expected) << c.present << c.recorded;
  }
}

TEST(ComposeCommandLine, TheThreeShapesByteForByte) {
  const std::string setup = std::string(kWork) + "SETUP.EXE";
  const std::string uninstaller = std::string(kWork) + "uninstall.exe";
  const std::string launcher = "C:\\My Files\\pkg\\setup.exe";
  const std::string gbk = " -ms \"a b\" \xb0\xa1\t\"\"";
  struct Case {
    HandoffProgram program;
    std::string programPath, packageDir, args, expected;
  } const cases[] = {
      {HandoffProgram::kUninstaller, uninstaller, "C:\\PKG~1\\wares", " -ms", uninstaller + " -ms"},
      {HandoffProgram::kSetup, setup, "C:\\MYFILE~1\\pkg\\wares", " x",
       setup + " -a C:\\MYFILE~1\\pkg\\wares -n " + launcher + " x"},
      {HandoffProgram::kSetup, setup, "", " ", setup + " -n " + launcher + " "},
      {HandoffProgram::kSetup, setup, "", gbk, setup + " -n " + launcher + gbk},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Compose(c.program, {c.programPath, c.packageDir, launcher, c.args}), c.expected);
  }
}

TEST(ComposeCommandLine, RefusesALineThatDoesNotFitAndNeverWritesBeyond) {
  const std::string setup = std::string(kWork) + "SETUP.EXE";
  const std::string launcher = "C:\\l.exe";
  const std::string expected = setup + " -n " + launcher + " a";
  // Exactly fitting (terminator included), one byte short, and every part as the one that breaks.
  for (std::size_t capacity = 0; capacity <= expected.size() + 1; ++capacity) {
    std::vector<char> out(capacity + 8, 'x');
    const int fitted = ComposeCommandLine(HandoffProgram::kSetup, {setup, "", launcher, " a"},
                                          out.data(), capacity);
    EXPECT_EQ(fitted, capacity == expected.size() + 1 ? 1 : 0) << capacity;
    if (capacity) EXPECT_EQ(std::string(out.data()), fitted ? expected : "") << capacity;
    for (std::size_t i = capacity; i < out.size(); ++i) ASSERT_EQ(out[i], 'x') << capacity;
  }
}

TEST(ComposeCommandLine, FillsItsWholeBuffer) {
  const std::string setup = std::string(kWork) + "SETUP.EXE";
  const std::string launcher = "C:\\l.exe";
  const std::string head = setup + " -n " + launcher;
  const std::string fitting(" " + std::string(kCommandLineSize - 2 - head.size(), 'a'));
  EXPECT_EQ(Compose(HandoffProgram::kSetup, {setup, "", launcher, fitting}), head + fitting);
  EXPECT_EQ(Compose(HandoffProgram::kSetup, {setup, "", launcher, fitting + "a"}), "");
}

TEST(PackageDirectoryOf, BesideTheLauncherWhateverItsLength) {
  char out[kCommandLineSize];
  struct Case {
    std::string module, expected;
  } const cases[] = {
      {"C:\\Program Files\\pkg\\install.exe", "C:\\Program Files\\pkg\\wares"},
      {"C:\\install.exe", "C:\\wares"},
      {"install.exe", ""},
      {"", ""},
      // 260 characters and more: no 260-byte directory buffer may hide the directory.
      {"C:\\" + std::string(300, 'd') + "\\install.exe",
       "C:\\" + std::string(300, 'd') + "\\wares"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PackageDirectoryOf(c.module, out, sizeof out), c.expected.empty() ? 0 : 1);
    EXPECT_EQ(std::string(out), c.expected) << c.module;
  }
  char tight[sizeof "C:\\wares"];
  EXPECT_EQ(PackageDirectoryOf("C:\\x.exe", tight, sizeof tight), 1);
  EXPECT_EQ(PackageDirectoryOf("C:\\a\\x.exe", tight, sizeof tight), 0);
  EXPECT_STREQ(tight, "");
}
