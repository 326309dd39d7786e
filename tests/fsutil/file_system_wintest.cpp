#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "fsutil/file_system.h"

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
