#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "fsutil/file_system.h"
#include "fsutil/dir_security.h"

namespace {
std::string FreshDirectory(const char* stem) {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  const std::string dir = std::string(temp) + stem + std::to_string(GetTickCount());
  CreateDirectoryA(dir.c_str(), nullptr);
  return dir;
}

void WriteFileText(const std::string& path, const char* text) {
  HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  DWORD written;
  WriteFile(f, text, lstrlenA(text), &written, nullptr);
  CloseHandle(f);
}
}  // namespace

TEST(CreateParentDirectories, CreatesEveryLevelButTheLast) {
  const std::string root = FreshDirectory("cpd");
  CreateParentDirectories((root + "\\pkg/sub\\file").c_str());
  EXPECT_TRUE(FileExists((root + "\\pkg").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_TRUE(FileExists((root + "\\pkg\\sub").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(FileExists((root + "\\pkg\\sub\\file").c_str()), 0u);
  // An entry's form creates only what the entry's name holds: not the levels before it.
  CreateEntryDirectories((root + "\\work\\d1\\d2\\file").c_str(), 10);
  EXPECT_EQ(FileExists((root + "\\work").c_str()), 0u);
  CreateEntryDirectories((root + "\\pkg\\d1\\d2\\file").c_str(), 10);
  EXPECT_TRUE(FileExists((root + "\\pkg\\d1\\d2").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
  DeleteTree(root.c_str(), 1);
  EXPECT_EQ(FileExists(root.c_str()), 0u);
}

TEST(DeleteTree, KeepsFilesInUseAndTheirParents) {
  const std::string root = FreshDirectory("dt");
  CreateParentDirectories((root + "\\a\\b\\x").c_str());
  CreateParentDirectories((root + "\\c\\x").c_str());
  WriteFileText(root + "\\a\\b\\busy.txt", "busy");
  WriteFileText(root + "\\c\\free.txt", "free");
  HANDLE busy = CreateFileA((root + "\\a\\b\\busy.txt").c_str(), GENERIC_READ, 0, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(busy, INVALID_HANDLE_VALUE);
  DeleteTree(root.c_str(), 1);
  EXPECT_NE(FileExists((root + "\\a\\b\\busy.txt").c_str()), 0u);
  EXPECT_EQ(FileExists((root + "\\c").c_str()), 0u);
  CloseHandle(busy);

  DeleteTree((root + "\\a\\b\\busy.txt").c_str(), 0);  // a file, not recursive: it stays
  EXPECT_NE(FileExists((root + "\\a\\b\\busy.txt").c_str()), 0u);
  DeleteTree(root.c_str(), 0);  // not empty: stays
  EXPECT_NE(FileExists(root.c_str()), 0u);
  DeleteTree(root.c_str(), 1);
  EXPECT_EQ(FileExists(root.c_str()), 0u);
  DeleteTree((root + "\\missing").c_str(), 1);  // nothing there: nothing happens
}

TEST(WorkDirSecurity, ADirectoryMadeProtectedIsJudgedUsable) {
  const std::string root = FreshDirectory("wds");
  const std::string made = root + "\\made";
  ASSERT_TRUE(CreateProtectedDirectory(made.c_str()));
  EXPECT_FALSE(CreateProtectedDirectory(made.c_str()));  // it exists now
  EXPECT_EQ(JudgeDirectory(made.c_str()), DirVerdict::kUsable);
  BYTE buffer[4096];
  DWORD needed = 0;
  ASSERT_TRUE(
      GetFileSecurityA(made.c_str(), DACL_SECURITY_INFORMATION, buffer, sizeof buffer, &needed));
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(buffer, &control, &revision));
  EXPECT_TRUE(control & SE_DACL_PRESENT);
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(buffer, &present, &dacl, &defaulted));
  ASSERT_TRUE(present && dacl);
  EXPECT_EQ(JudgeDirectory((root + "\\missing").c_str()), DirVerdict::kNotDirectory);
  DeleteTree(root.c_str(), 1);
}
