#pragma once
// The twin rows' cell texts as the list and the report show them, read from
// the engine, for tests that compare what a user would see.

#include <string>
#include <vector>

#include "duplicates/ContentVerdict.h"
#include "duplicates/TwinRowText.h"
#include "duplicates/TwinScanner.h"

namespace quarn::test {

enum TwinColumn { kFileText, kPathText, kSizeText, kModifiedText, kContentText };

inline std::string TwinRowText(const TwinScanner& twins, int row, int column) {
    const std::optional<TwinRow> shown = twins.RowAt(row);
    if (!shown) {
        return {};
    }
    switch (column) {
        case kFileText:
            return shown->name;
        case kPathText:
            return shown->path;
        case kSizeText:
            return FormatSizeText(shown->size);
        case kModifiedText:
            return FormatModifiedText(shown->lastWriteTime);
        case kContentText:
            return std::string(ContentText(shown->content));
        default:
            return {};
    }
}

inline std::vector<std::string> TwinColumnTexts(const TwinScanner& twins, int column) {
    std::vector<std::string> texts;
    for (int row = 0; row < twins.Rows().GetItemCount(); ++row) {
        texts.push_back(TwinRowText(twins, row, column));
    }
    return texts;
}

}  // namespace quarn::test
