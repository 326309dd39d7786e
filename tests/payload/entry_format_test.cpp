#include "payload/entry_format.h"

#include <gtest/gtest.h>

#include <vector>

TEST(EntryHeader, ReadsLittleEndianFieldsAndZeroesWhatIsMissing) {
  const std::vector<std::uint8_t> bytes = {0x34, 0x12, 0x00, 0x80, 0x5D, 0x00, 0x00, 0x80, 0x00,
                                           0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x88, 0xAA};
  EntryHeader h = {};
  EXPECT_EQ(ReadEntryHeader(bytes, &h), kEntryHeaderSize);
  EXPECT_EQ(h.streamLength, 0x80001234u);
  EXPECT_EQ(h.properties, 0x5D);
  EXPECT_EQ(h.dictionarySize, 0x800000u);
  EXPECT_EQ(h.outputSize, 0x8807060504030201ull);

  // A cut header: the bytes present are read, the rest reads as zero.
  EXPECT_EQ(ReadEntryHeader(std::span(bytes).first(7), &h), 7u);
  EXPECT_EQ(h.streamLength, 0x80001234u);
  EXPECT_EQ(h.properties, 0x5D);
  EXPECT_EQ(h.dictionarySize, 0x0000u);
  EXPECT_EQ(h.outputSize, 0u);
  EXPECT_EQ(ReadEntryHeader({}, &h), 0u);
  EXPECT_EQ(h.streamLength, 0u);
}

TEST(EntryHeader, PropertiesSplitIntoLcLpPb) {
  for (unsigned p = 0; p < kPropertiesLimit; ++p) {
    const LzmaLiteralPosition s = SplitProperties(static_cast<std::uint8_t>(p));
    ASSERT_LT(s.lc, 9u);
    ASSERT_LT(s.lp, 5u);
    ASSERT_LT(s.pb, 5u);
    ASSERT_EQ(JoinProperties(s.lc, s.lp, s.pb), p);
  }
  const LzmaLiteralPosition shipped = SplitProperties(kDefaultProperties);
  EXPECT_EQ(shipped.lc, 3u);
  EXPECT_EQ(shipped.lp, 0u);
  EXPECT_EQ(shipped.pb, 2u);
}

TEST(EntryHeader, StreamLengthMustCoverTheAloneHeaderAndStayInsideTheEntry) {
  struct Case {
    std::uint32_t streamLength;
    std::size_t entrySize;
    bool inRange;
  } cases[] = {
      {13, 17, true},   {12, 17, false}, {13, 16, false},          {96, 100, true},
      {97, 100, false}, {13, 100, true}, {0xFFFFFFFF, 100, false}, {0, 0, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StreamLengthInRange(c.streamLength, c.entrySize), c.inRange)
        << c.streamLength << " in " << c.entrySize;
  }
}
