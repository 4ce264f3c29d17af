#include "history/ChangeText.h"

#include <cmath>

#include "foldersize/SizeText.h"

namespace quarn {

std::string SignedSizeText(int64_t change) {
    if (change == 0) {
        return "0";
    }
    const uint64_t magnitude = change < 0 ? uint64_t(0) - uint64_t(change) : uint64_t(change);
    return (change < 0 ? "-" : "+") + FormatSize(magnitude);
}

std::string ChangeText(const FolderChange& change) {
    if (change.isNew) {
        return "new";
    }
    std::string text = SignedSizeText(change.change);
    if (change.change != 0 && change.earlierSize > 0) {
        const long long share =
            std::llround(double(change.change) * 100.0 / double(change.earlierSize));
        text += " (" + std::string(share >= 0 ? "+" : "") + std::to_string(share) + "%)";
    }
    return text;
}

}  // namespace quarn
