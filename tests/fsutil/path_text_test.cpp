#include "fsutil/path_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(AppendBackslash, AppendsOnlyWhenItFits) {
  char fits[8] = "C:\\dir";
  AppendBackslash(fits, sizeof fits);
  EXPECT_STREQ(fits, "C:\\dir\\");
  char tight[7] = "C:\\dir";
  AppendBackslash(tight, sizeof tight);
  EXPECT_STREQ(tight, "C:\\dir");
  AppendBackslash(fits, sizeof fits);  // already ends in one
  EXPECT_STREQ(fits, "C:\\dir\\");
  char empty[4] = "";
  AppendBackslash(empty, sizeof empty);
  EXPECT_STREQ(empty, "");
  AppendBackslash(nullptr, 4);
}

TEST(GetDirectoryPart, KeepsTheFinalBackslashAndRefusesLongPaths) {
  char out[260];
  GetDirectoryPart("C:\\Program Files\\pkg\\install.exe", out, sizeof out);
  EXPECT_STREQ(out, "C:\\Program Files\\pkg\\");
  GetDirectoryPart("install.exe", out, sizeof out);
  EXPECT_STREQ(out, "");
  const std::string longPath = "C:\\" + std::string(257, 'a');  // exactly 260 characters
  GetDirectoryPart(longPath.c_str(), out, sizeof out);
  EXPECT_STREQ(out, "");
}

TEST(ForEachParentCut, SkipsDriveAndNetworkPrefixes) {
  const auto cuts = [](const std::string& path) {
    std::vector<std::size_t> at;
    ForEachParentCut(path.c_str(), path.size(), [&at](std::size_t i) { at.push_back(i); });
    return at;
  };
  EXPECT_EQ(cuts("C:\\Temp\\quill_temp\\SETUP.EXE"), (std::vector<std::size_t>{7, 18}));
  EXPECT_EQ(cuts("pkg/sub\\file"), (std::vector<std::size_t>{3, 7}));
  EXPECT_EQ(cuts("\\\\server\\share\\f"), (std::vector<std::size_t>{8, 14}));
  EXPECT_EQ(cuts("\\"), (std::vector<std::size_t>{}));
}
