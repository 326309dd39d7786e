#include "launcher/work_path.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(ComposeWorkPath, JoinsWithSingleBackslashes) {
  char out[260];
  struct Case {
    const char* temp;
    const char* dir;
    const char* name;
    const char* path;
  } cases[] = {
      {"C:\\Temp\\", "quill_temp", "SETUP.EXE", "C:\\Temp\\quill_temp\\SETUP.EXE"},
      {"C:\\Temp", "quill_temp", "SETUP.EXE", "C:\\Temp\\quill_temp\\SETUP.EXE"},
      {"C:\\Temp\\", "quill_temp12", "", "C:\\Temp\\quill_temp12\\"},
      {"C:\\Temp\\", "quill_temp\\", "DATA\\A.DAT", "C:\\Temp\\quill_temp\\DATA\\A.DAT"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ComposeWorkPath(c.temp, c.dir, c.name, out, sizeof out), 1);
    EXPECT_STREQ(out, c.path);
  }
}

TEST(ComposeWorkPath, APathThatDoesNotFitIsEmptyAndNothingIsWrittenBeyondTheBuffer) {
  const std::string temp = "C:\\Temp\\";  // 8 + 11 ("quill_temp\") + name
  const std::string name = "SETUP.EXE";
  const std::size_t needed = temp.size() + 11 + name.size() + 1;
  for (std::size_t capacity = 1; capacity <= needed + 1; ++capacity) {
    char buffer[64];
    std::memset(buffer, 'X', sizeof buffer);
    const int fitted = ComposeWorkPath(temp, "quill_temp", name, buffer, capacity);
    EXPECT_EQ(fitted, capacity >= needed ? 1 : 0) << capacity;
    if (!fitted) EXPECT_STREQ(buffer, "") << capacity;
    for (std::size_t i = capacity; i < sizeof buffer; ++i) ASSERT_EQ(buffer[i], 'X') << capacity;
  }
  char none[1] = {'X'};
  EXPECT_EQ(ComposeWorkPath(temp, "quill_temp", name, none, 0), 0);
  EXPECT_EQ(none[0], 'X');
}

TEST(ComposeWorkPath, ALongTempDirectoryLeavesNoRoomIn260Bytes) {
  char out[260];
  const std::string temp = "C:\\" + std::string(240, 't') + "\\";          // 244 characters
  EXPECT_EQ(ComposeWorkPath(temp, "quill_temp", "", out, sizeof out), 1);  // 255 + terminator
  EXPECT_EQ(ComposeWorkPath(temp, "quill_temp", "A.TXT", out, sizeof out), 0);
  EXPECT_STREQ(out, "");
  char large[4096];
  EXPECT_EQ(ComposeWorkPath(temp, "quill_temp", "A.TXT", large, sizeof large), 1);
}
