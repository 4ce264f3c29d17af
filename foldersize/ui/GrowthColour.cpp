#include "foldersize/ui/GrowthColour.h"

#include <algorithm>
#include <cmath>

namespace quarn {

namespace {

constexpr QRgb kUnchanged = qRgb(165, 165, 165);
constexpr QRgb kGrown = qRgb(215, 48, 31);
constexpr QRgb kShrunk = qRgb(33, 102, 172);

QRgb Mix(QRgb from, QRgb to, double share) {
    const auto blend = [share](int a, int b) { return int(std::lround(a + (b - a) * share)); };
    return qRgb(blend(qRed(from), qRed(to)), blend(qGreen(from), qGreen(to)),
                blend(qBlue(from), qBlue(to)));
}

}  // namespace

QRgb GrowthColour(int64_t change, uint64_t earlierSize, bool isNew) {
    if (isNew) {
        return kGrown;
    }
    if (change == 0) {
        return kUnchanged;
    }
    const double ratio =
        earlierSize == 0 ? 1.0 : std::min(1.0, std::fabs(double(change)) / double(earlierSize));
    // The square root lets a change of a few percent show already.
    const double share = 0.25 + 0.75 * std::sqrt(ratio);
    return Mix(kUnchanged, change > 0 ? kGrown : kShrunk, share);
}

}  // namespace quarn
