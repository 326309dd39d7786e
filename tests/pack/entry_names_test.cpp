#include "pack/entry_names.h"

#include <gtest/gtest.h>

namespace {
struct NameCase {
  const char* path;
  bool allowNonAscii;
  const char16_t* name;  // null: refused
  const char* reason;    // part of the refusal
};

// Each row is a way a name could reach the launcher wrong or escape its work directory.
const NameCase kNames[] = {
    {"setup.exe", false, u"SETUP.EXE", ""},
    {"docs/Manual.txt", false, u"DOCS\\MANUAL.TXT", ""},
    {"a\\b.txt", false, u"A\\B.TXT", ""},
    {"", false, nullptr, "empty"},
    {"../x", false, nullptr, "escape"},
    {"a/../../x", false, nullptr, "escape"},
    {"./x", false, nullptr, "escape"},
    {"/etc/passwd", false, nullptr, "absolute"},
    {"C:/x", false, nullptr, "drive letter"},
    {"file.txt:stream", false, nullptr, "drive letter"},
    {"a//b", false, nullptr, "empty path component"},
    {"dir/", false, nullptr, "empty path component"},
    {"what?.txt", false, nullptr, "does not allow"},
    {"tab\there", false, nullptr, "control"},
    {"dots.", false, nullptr, "strips"},
    {"blank ", false, nullptr, "strips"},
    {"con", false, nullptr, "reserved device"},
    {"sub/Nul.txt", false, nullptr, "reserved device"},
    {"com1.log", false, nullptr, "reserved device"},
    {"console.txt", false, u"CONSOLE.TXT", ""},
    {"archive.lst", false, nullptr, "manifest"},
    {"sub/archive.lst", false, u"SUB\\ARCHIVE.LST", ""},
    {"caf\xc3\xa9.txt", false, nullptr, "code page"},
    {"caf\xc3\xa9.txt", true, u"CAF\u00c9.TXT", ""},
    {"\xd0\xb4\xd0\xb0.txt", true, u"\u0414\u0410.TXT", ""},
    {"\xe6\x96\x87\xe4\xbb\xb6.txt", true, u"\u6587\u4ef6.TXT", ""},
    {"\xd5\xa1.txt", true, nullptr, "upper case"},  // Armenian: case mapping not known here
    {"bad\xff.txt", true, nullptr, "UTF-8"},
    {"\xed\xa0\x80.txt", true, nullptr, "UTF-8"},  // an encoded surrogate
};

TEST(EntryNames, AcceptsWhatTheLauncherCanExtractAndRefusesTheRest) {
  for (const NameCase& c : kNames) {
    std::u16string name;
    std::string reason;
    const bool ok = MakeEntryName(c.path, NameRules{c.allowNonAscii}, &name, &reason);
    EXPECT_EQ(ok, c.name != nullptr) << c.path << ": " << reason;
    if (c.name && ok) EXPECT_EQ(name, std::u16string(c.name)) << c.path;
    if (!c.name) EXPECT_NE(reason.find(c.reason), std::string::npos) << c.path << ": " << reason;
  }
}

TEST(EntryNames, LengthLimitIsCountedInAnsiBytes) {
  std::u16string name;
  std::string reason;
  EXPECT_TRUE(MakeEntryName(std::string(kMaxEntryNameBytes, 'a'), {}, &name, &reason));
  EXPECT_FALSE(MakeEntryName(std::string(kMaxEntryNameBytes + 1, 'a'), {}, &name, &reason));
  EXPECT_NE(reason.find("260"), std::string::npos);
  // A non-ASCII character may take two bytes in a double-byte code page.
  std::string wide;
  for (std::size_t i = 0; i < kMaxEntryNameBytes / 2; ++i) wide += "\xd0\xb4";
  EXPECT_TRUE(MakeEntryName(wide, NameRules{true}, &name, &reason)) << reason;
  EXPECT_FALSE(MakeEntryName(wide + "a", NameRules{true}, &name, &reason));
}

TEST(EntryNames, ClashesAreFoundOnceUpperCased) {
  const struct {
    std::vector<std::u16string> names;
    std::size_t clashes;
  } cases[] = {
      {{u"A.TXT", u"B.TXT"}, 0},
      {{u"A.TXT", u"a.txt"}, 1},
      {{u"LIB", u"LIB\\X.DLL"}, 1},
      {{u"LIB\\X.DLL", u"lib"}, 1},
      {{u"LIB\\X.DLL", u"LIB\\Y.DLL", u"LIBX"}, 0},
      {{u"\u00e9", u"\u00c9"}, 1},
  };
  for (const auto& c : cases) EXPECT_EQ(FindNameClashes(c.names).size(), c.clashes);
}
}  // namespace
