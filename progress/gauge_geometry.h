// Geometry of the gauge control: how many 6-pixel blocks fit, how wide the fitted window is, where
// each block lies, and how a percentage turns into a block count. Portable.
#pragma once

#include <cstdint>

inline constexpr int kGaugeBlockWidth = 6;

// A rectangle in client pixels, right and bottom exclusive (the layout of a Win32 RECT).
struct GaugeRect {
  int left;
  int top;
  int right;
  int bottom;
};

// Whole blocks that fit in a client area `clientWidth` pixels wide, with a one-pixel margin on each
// side. Never negative: a client area narrower than one block holds none.
int GaugeBlockCount(int clientWidth);

// Window width that leaves a client area of exactly one margin, `blocks` blocks and one margin,
// given the width of the border on each side.
int FittedGaugeWindowWidth(int blocks, int borderWidth);

// Block `index` (from 0) in a client area `clientHeight` pixels high.
GaugeRect GaugeBlockRect(int index, int clientHeight);

// Blocks shown for `percent` of a gauge of `gaugeBlocks` blocks: the product in 32 bits, the
// division unsigned and rounding down, as the launcher has always computed it.
std::uint32_t GaugeBlocksForPercent(int gaugeBlocks, std::uint32_t percent);
