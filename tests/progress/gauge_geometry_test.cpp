#include "progress/gauge_geometry.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "progress/dialog_geometry.h"

namespace {
struct BlockCountCase {
  int clientWidth;
  int blocks;
  int fittedWindowWidth;  // with a border of 1 pixel
};

TEST(GaugeGeometry, BlockCountAndFittedWidth) {
  const BlockCountCase cases[] = {
      {261, 43, 262},  // the dialog's gauge at 96 dpi: client 260 = 1 + 43 * 6 + 1 after fitting
      {260, 43, 262}, {259, 42, 256}, {8, 1, 10}, {7, 0, 4},
      {2, 0, 4},      {1, 0, 4},      {0, 0, 4},  {-5, 0, 4},
  };
  for (const BlockCountCase& c : cases) {
    SCOPED_TRACE(c.clientWidth);
    EXPECT_EQ(GaugeBlockCount(c.clientWidth), c.blocks);
    EXPECT_EQ(FittedGaugeWindowWidth(c.blocks, 1), c.fittedWindowWidth);
  }
  EXPECT_EQ(FittedGaugeWindowWidth(43, 2), 43 * 6 + 6);
}

TEST(GaugeGeometry, FittedClientAreaHoldsTheBlocksAndTwoMargins) {
  for (int width = 0; width < 400; ++width) {
    const int blocks = GaugeBlockCount(width);
    const int client = FittedGaugeWindowWidth(blocks, 1) - 2;
    EXPECT_EQ(client, blocks * 6 + 2);
    EXPECT_LE(client, width < 2 ? 2 : width);  // fitting only ever gives width up
    EXPECT_GT(client + 6, width);              // and never a whole block's worth
  }
}

TEST(GaugeGeometry, BlocksTouchAndKeepOneMarginPixel) {
  const GaugeRect first = GaugeBlockRect(0, 9);
  EXPECT_EQ(first.left, 1);
  EXPECT_EQ(first.top, 1);
  EXPECT_EQ(first.right, 7);
  EXPECT_EQ(first.bottom, 8);
  const GaugeRect last = GaugeBlockRect(42, 9);
  EXPECT_EQ(last.left, 253);  // the 43rd block covers client columns 253 to 258
  EXPECT_EQ(last.right, 259);
  for (int i = 1; i < 43; ++i) EXPECT_EQ(GaugeBlockRect(i, 9).left, GaugeBlockRect(i - 1, 9).right);
}

struct PercentCase {
  int blocks;
  std::uint32_t percent;
  std::uint32_t shown;
};

TEST(GaugeGeometry, BlocksForPercentRoundDown) {
  const PercentCase cases[] = {
      {43, 0, 0},
      {43, 2, 0},
      {43, 3, 1},
      {43, 50, 21},
      {43, 99, 42},
      {43, 100, 43},
      {43, 101, 43},
      {43, 200, 86},
      {0, 100, 0},
      {1, 99, 0},
      {1, 100, 1},
      // The product is taken in 32 bits: a huge percentage wraps, as it always has.
      {43, 0xFFFFFFFFu, (43u * 0xFFFFFFFFu) / 100u},
  };
  for (const PercentCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.blocks << " blocks, " << c.percent << "%");
    EXPECT_EQ(GaugeBlocksForPercent(c.blocks, c.percent), c.shown);
  }
}

TEST(DialogGeometry, CentredOffsetTruncatesTowardZero) {
  EXPECT_EQ(CenteredOffset(1024, 300), 362);
  EXPECT_EQ(CenteredOffset(1024, 301), 361);
  EXPECT_EQ(CenteredOffset(768, 768), 0);
  EXPECT_EQ(CenteredOffset(1024, 1027), -1);  // 3 pixels wider than the screen
  EXPECT_EQ(CenteredOffset(1024, 1026), -1);
  EXPECT_EQ(CenteredOffset(1024, 1025), 0);
}
}  // namespace
