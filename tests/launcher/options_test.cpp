#include "launcher/options.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "launcher/fatal.h"
#include "launcher/launcher_state.h"

namespace {
// Every argument of `text` as GetArgument delivers it, in a buffer of exactly `outSize` bytes on
// the heap so that a write past it is caught by AddressSanitizer.
std::vector<std::string> Arguments(const std::string& text, std::size_t outSize = 4096) {
  std::vector<std::string> out;
  const int count = CountArguments(text.c_str());
  for (int i = 0; i < count; ++i) {
    char* buffer = static_cast<char*>(std::malloc(outSize));
    EXPECT_EQ(GetArgument(text.c_str(), i, buffer, outSize), buffer);
    out.emplace_back(buffer);
    std::free(buffer);
  }
  return out;
}

struct TokenCase {
  const char* text;
  std::vector<std::string> arguments;
};

class Tokenizer : public testing::TestWithParam<TokenCase> {};

TEST_P(Tokenizer, SplitsAsDocumented) {
  EXPECT_EQ(Arguments(GetParam().text), GetParam().arguments) << "input: " << GetParam().text;
}

// The worked examples: quotes open arguments, a closing quote keeps the after-blank state.
INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, Tokenizer,
    testing::Values(TokenCase{R"(-ms -u "my file.txt" -mmi)", {"-ms", "-u", "my file.txt", "-mmi"}},
                    TokenCase{R"(ab"c d")", {"ab", "c d"}}, TokenCase{R"("a b"c)", {"a b", "c"}},
                    TokenCase{R"(x"a b"c)", {"x", R"(a b"c)"}},
                    TokenCase{R"(x "a b"c)", {"x", "a b", "c"}},
                    TokenCase{R"("a b"x"c d"e)", {"a b", "x", R"(c d"e)"}},
                    TokenCase{R"(x"a" y)", {"x", "a", "y"}},
                    TokenCase{R"("a""b"c)", {"a", "b", "c"}},
                    TokenCase{R"(-u"a b")", {"-u", "a b"}}, TokenCase{R"(-ms")", {"-ms", ""}},
                    TokenCase{R"(a "" b)", {"a", "", "b"}}, TokenCase{R"(")", {""}},
                    TokenCase{R"(""")", {"", ""}}, TokenCase{R"("a b)", {"a b"}},
                    TokenCase{"a\t\"b c\"\td", {"a", "b c", "d"}}));

// The blank set is six bytes and nothing else; bytes from 0x80 up are ordinary characters.
INSTANTIATE_TEST_SUITE_P(Blanks, Tokenizer,
                         testing::Values(TokenCase{"a\x0b"
                                                   "b\x0c"
                                                   "c\rd\ne",
                                                   {"a", "b", "c", "d", "e"}},
                                         TokenCase{"a\x01"
                                                   "b\x1f"
                                                   "c\x7f"
                                                   "d",
                                                   {"a\x01"
                                                    "b\x1f"
                                                    "c\x7f"
                                                    "d"}},
                                         TokenCase{"a\xb0\xa1 b", {"a\xb0\xa1", "b"}},
                                         TokenCase{"\xa0x\x85y\xff", {"\xa0x\x85y\xff"}},
                                         TokenCase{"\"\xb0\xa1 \xb0\xa1\"", {"\xb0\xa1 \xb0\xa1"}},
                                         TokenCase{" \t\r\n", {}}, TokenCase{"", {}}));

TEST(Tokenizer, GbkArgumentIsThreeBytes) {
  const auto args = Arguments("a\xb0\xa1 b");
  ASSERT_EQ(args.size(), 2u);
  EXPECT_EQ(args[0].size(), 3u);
}

TEST(Tokenizer, BlanksOnlyHaveNoArgumentAndAnswerNull) {
  char out[8] = "junk";
  EXPECT_EQ(SkipBlanks(" \t\x0b\x0c\r\n"), nullptr);
  EXPECT_EQ(CountArguments(" \t"), 0);
  EXPECT_EQ(GetArgument(" \t", 0, out, sizeof out), nullptr);
  EXPECT_STREQ(out, "");
}

TEST(Tokenizer, IndexBeyondTheLastArgumentIsEmpty) {
  char out[16] = "junk";
  for (int index : {2, 3, 1000, -1}) {
    EXPECT_EQ(GetArgument("a b", index, out, sizeof out), out);
    EXPECT_STREQ(out, "") << index;
  }
}

TEST(Tokenizer, LongArgumentIsCutAndTheNextIsWhole) {
  const std::string longArg(5000, 'x');
  const auto args = Arguments(longArg + " next");
  ASSERT_EQ(args.size(), 2u);
  EXPECT_EQ(args[0], std::string(4095, 'x'));
  EXPECT_EQ(args[1], "next");
}

// The cut counts the quotes: a leading quote still comes off, the trailing one was cut away.
TEST(Tokenizer, QuotedLongArgumentIsCutBeforeStripping) {
  const auto args = Arguments("\"" + std::string(5000, 'y') + "\" z");
  ASSERT_EQ(args.size(), 2u);
  EXPECT_EQ(args[0], std::string(4094, 'y'));
  EXPECT_EQ(args[1], "z");
}

TEST(Tokenizer, SmallBuffersStayWithinTheirSize) {
  // Exact-size heap buffers: AddressSanitizer reports any write past them.
  EXPECT_EQ(Arguments("abcdef \"gh\"", 4), (std::vector<std::string>{"abc", "gh"}));
  EXPECT_EQ(Arguments("abcdef", 1), (std::vector<std::string>{""}));
  char out[1];
  EXPECT_EQ(GetArgument("abc", 0, out, 0), nullptr);
}

struct StripCase {
  const char* source;
  std::size_t size;
  const char* expected;
};

TEST(StripOuterQuotes, TakesAtMostOneQuoteFromEachEnd) {
  const StripCase cases[] = {
      {R"("a")", 16, "a"},
      {R"(""a"")", 16, R"("a")"},
      {R"(")", 16, ""},
      {R"("")", 16, ""},
      {R"(a"b)", 16, R"(a"b)"},
      {R"("ab)", 16, "ab"},
      {R"(ab")", 16, "ab"},
      {"", 16, ""},
      {"abc", 4, "abc"},
      {"abcd", 4, "unchanged"},
      {"\"abc\"", 5, "unchanged"},
  };
  for (const StripCase& c : cases) {
    char out[16] = "unchanged";
    StripOuterQuotes(c.source, out, c.size);
    EXPECT_STREQ(out, c.expected) << c.source << " size " << c.size;
  }
}

// ---- option scan

struct OptionCase {
  const char* args;
  int silent, unpack, multiple;
  const char* name;
};

class OptionScan : public testing::TestWithParam<OptionCase> {
 protected:
  void SetUp() override { ResetLauncherState(); }
};

TEST_P(OptionScan, SetsTheFields) {
  const OptionCase& c = GetParam();
  ParseOptions(c.args);
  EXPECT_EQ(g_state.silentMode, c.silent) << c.args;
  EXPECT_EQ(FindsSilentOption(c.args), c.silent != 0) << c.args;
  EXPECT_EQ(g_state.unpackMode, c.unpack) << c.args;
  EXPECT_EQ(g_state.allowMultiple, c.multiple) << c.args;
  EXPECT_STREQ(g_state.unpackName, c.name) << c.args;
  EXPECT_EQ(std::string(g_state.passThroughArgs), std::string(" ") + c.args);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, OptionScan,
    testing::Values(OptionCase{"", 0, 0, 0, ""}, OptionCase{"-ms", 1, 0, 0, ""},
                    OptionCase{"-MS", 1, 0, 0, ""}, OptionCase{"/Ms", 1, 0, 0, ""},
                    OptionCase{"\"-ms\"", 1, 0, 0, ""},
                    OptionCase{"-msx --ms x-ms ms -m \"-ms \"", 0, 0, 0, ""},
                    OptionCase{"-mmi", 0, 0, 1, ""}, OptionCase{"/MMI", 0, 0, 1, ""},
                    OptionCase{"-mmix -mm", 0, 0, 0, ""}, OptionCase{"-u", 0, 1, 0, ""},
                    OptionCase{"/U", 0, 1, 0, ""}, OptionCase{"-ux", 0, 0, 0, ""},
                    OptionCase{"-ms -mmi -u", 1, 1, 1, ""},
                    // Non-ASCII bytes are never folded: 0xCD is no "m" in any case.
                    OptionCase{"-\xcd\xd3", 0, 0, 0, ""}));

INSTANTIATE_TEST_SUITE_P(
    UnpackName, OptionScan,
    testing::Values(OptionCase{"-u readme.txt", 0, 1, 0, "readme.txt"},
                    OptionCase{"-u ReadMe.TXT", 0, 1, 0, "ReadMe.TXT"},
                    OptionCase{"-u -ms", 1, 1, 0, ""}, OptionCase{"-u /ms", 0, 1, 0, "/ms"},
                    OptionCase{"-u \"-x\"", 0, 1, 0, ""}, OptionCase{"-u \"\" -ms", 1, 1, 0, ""},
                    OptionCase{"-u a -u b", 0, 1, 0, "b"}, OptionCase{"-u a -u", 0, 1, 0, "a"},
                    OptionCase{"-u x y", 0, 1, 0, "x"}, OptionCase{"-u -u a", 0, 1, 0, "a"},
                    OptionCase{"-u -mmi", 0, 1, 1, ""}, OptionCase{"-u\"a b\"", 0, 1, 0, "a b"},
                    OptionCase{"-u \xb0\xa1.txt", 0, 1, 0, "\xb0\xa1.txt"},
                    OptionCase{"/U \"Data File.bin\" /mmi", 0, 1, 1, "Data File.bin"}));

TEST(OptionScanState, AllowMultipleIsOnlyEverSet) {
  ResetLauncherState();
  ParseOptions("-mmi");
  ParseOptions("-ms");
  EXPECT_EQ(g_state.allowMultiple, 1);
  EXPECT_EQ(g_state.silentMode, 1);
  ParseOptions("-u a");
  EXPECT_EQ(g_state.silentMode, 0);
  ParseOptions("x");
  EXPECT_EQ(g_state.unpackMode, 0);
  EXPECT_STREQ(g_state.unpackName, "");
}

TEST(OptionScanState, LongNameAfterUnpackIsCutTo4095) {
  ResetLauncherState();
  ParseOptions(("-u " + std::string(5000, 'n') + " -ms").c_str());
  EXPECT_EQ(std::string(g_state.unpackName), std::string(4095, 'n'));
  EXPECT_EQ(g_state.silentMode, 1);
}

// The whole argument string reaches the pass-through field, whatever its length, and nothing is
// written past the field (its neighbour keeps its value).
TEST(OptionScanState, PassThroughKeepsLongStringsWhole) {
  for (std::size_t length : {4094u, 4095u, 32000u, 65534u}) {
    ResetLauncherState();
    std::string args;
    while (args.size() < length) args += "-ms \"a b\" \xb0\xa1 ";
    args.resize(length);
    ParseOptions(args.c_str());
    EXPECT_EQ(std::strlen(g_state.passThroughArgs), length + 1);
    EXPECT_EQ(std::string(g_state.passThroughArgs), " " + args) << length;
    EXPECT_STREQ(g_state.workDirName, "quill_temp");
  }
}

TEST(OptionScanState, PassThroughCutsOnlyWhatCannotExist) {
  ResetLauncherState();
  const std::string args(kPassThroughArgsSize + 100, 'a');
  ParseOptions(args.c_str());
  EXPECT_EQ(std::strlen(g_state.passThroughArgs), kPassThroughArgsSize - 1);
  EXPECT_STREQ(g_state.workDirName, "quill_temp");
}

// ---- out of memory

void* FailAllocation(std::size_t) { return nullptr; }

void ReportWithSilentMode(const FatalEnd& end) {
  std::fprintf(stderr, "%s, silent %d\n", end.text, g_state.silentMode);
}

TEST(OptionScanDeath, ScratchBufferFailureEndsWithOutOfMemory) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        SetScratchAllocator(FailAllocation);
        ParseOptions("-ms");
      },
      testing::ExitedWithCode(1), "^Out of memory\n$");
  // The reporter already knows whether the run is silent, wherever -ms stands.
  const struct {
    const char* args;
    const char* expected;
  } cases[] = {{"x \"/MS\"", "^Out of memory, silent 1\n$"},
               {"-u /ms", "^Out of memory, silent 0\n$"},
               {"-mmi", "^Out of memory, silent 0\n$"}};
  for (const auto& c : cases) {
    EXPECT_EXIT(
        {
          ResetLauncherState();
          SetScratchAllocator(FailAllocation);
          SetFatalReporter(ReportWithSilentMode);
          ParseOptions(c.args);
        },
        testing::ExitedWithCode(1), c.expected)
        << c.args;
  }
}

TEST(OptionScanDeath, NoScratchBufferIsNeededWithoutArguments) {
  SetScratchAllocator(FailAllocation);
  ResetLauncherState();
  ParseOptions("  ");
  char out[4] = "x";
  EXPECT_EQ(GetArgument("", 0, out, sizeof out), nullptr);
  SetScratchAllocator(nullptr);
  EXPECT_STREQ(g_state.passThroughArgs, "   ");
}
}  // namespace
