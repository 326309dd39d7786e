#include "base/bounded_text.h"

#include <gtest/gtest.h>

#include "base/format_name.h"

TEST(BoundedText, CopyCutsAndTerminates) {
  char small[4] = {'x', 'x', 'x', 'x'};
  EXPECT_FALSE(CopyBounded(small, "abcdef"));
  EXPECT_STREQ(small, "abc");
  EXPECT_TRUE(CopyBounded(small, "ab"));
  EXPECT_STREQ(small, "ab");
}

TEST(BoundedText, AppendIsAllOrNothing) {
  char buffer[6] = "ab";
  EXPECT_TRUE(AppendBounded(buffer, "cd"));
  EXPECT_STREQ(buffer, "abcd");
  EXPECT_FALSE(AppendBounded(buffer, "ef"));  // would need 7 bytes
  EXPECT_STREQ(buffer, "abcd");
  EXPECT_TRUE(AppendBounded(buffer, "e"));
  EXPECT_STREQ(buffer, "abcde");
}

TEST(FormatName, SubstitutesAndCutsWithoutSplittingDoubleByteCharacters) {
  char out[8];
  EXPECT_EQ(FormatWithName("<%s>", "ab", out, sizeof out), 1);
  EXPECT_STREQ(out, "<ab>");
  EXPECT_EQ(FormatWithName("100%% %s", "x", out, sizeof out), 1);
  EXPECT_STREQ(out, "100% x");
  // GBK "正在" is four bytes; with room for five characters the second one must not be split.
  const auto lead = [](unsigned char b) { return b >= 0x81 && b <= 0xFE; };
  char tiny[6];
  EXPECT_EQ(FormatWithName("\xD5\xFD\xD4\xDA%s", "abc", tiny, sizeof tiny, +lead), 0);
  EXPECT_STREQ(tiny,
               "\xD5\xFD\xD4\xDA"
               "a");
  char four[4];
  EXPECT_EQ(FormatWithName("a\xD5\xFD\xD4\xDA", "", four, sizeof four, +lead), 0);
  EXPECT_STREQ(four, "a\xD5\xFD");
}
