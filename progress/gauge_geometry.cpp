#include "progress/gauge_geometry.h"

int GaugeBlockCount(int clientWidth) {
  const int blocks = (clientWidth - 2) / kGaugeBlockWidth;
  return blocks > 0 ? blocks : 0;
}

int FittedGaugeWindowWidth(int blocks, int borderWidth) {
  return blocks * kGaugeBlockWidth + 2 * borderWidth + 2;
}

GaugeRect GaugeBlockRect(int index, int clientHeight) {
  const int left = 1 + index * kGaugeBlockWidth;
  return {left, 1, left + kGaugeBlockWidth, clientHeight - 1};
}

std::uint32_t GaugeBlocksForPercent(int gaugeBlocks, std::uint32_t percent) {
  return static_cast<std::uint32_t>(gaugeBlocks) * percent / 100u;
}
