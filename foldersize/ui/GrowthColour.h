#pragma once
// The treemap's colours while comparing: a diverging scale, grown warm,
// shrunk cool, unchanged grey. The colour deepens with the change's share of
// the earlier size (full at a doubling, or at nothing left); a new folder is
// full warm.

#include <QColor>

#include <cstdint>

namespace quarn {

QRgb GrowthColour(int64_t change, uint64_t earlierSize, bool isNew);

}  // namespace quarn
