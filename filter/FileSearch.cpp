#include "filter/FileSearch.h"

#include <climits>
#include <cstdlib>
#include <cwchar>
#include <cwctype>

#include "duplicates/TwinStatusText.h"

namespace quarn {

namespace {

// Strict on both sides; a bound of 0 leaves its side open.
bool PassesSizeTest(uint64_t size, uint64_t lower, uint64_t upper) {
    return (lower == 0 || size > lower) && (upper == 0 || size < upper);
}

void PublishCount(TwinScanner& twins, bool ready) {
    twins.SetStatusText(FileFindStatus(twins.Rows().GetItemCount(), ready));
}

}  // namespace

uint64_t SizeBoundBytes(const std::string& kilobytes) {
    long number = std::atol(kilobytes.c_str());
    if (number <= 0) {
        return 0;
    }
    if (uint64_t(number) > UINT64_MAX / 1024) {
        return UINT64_MAX;
    }
    return uint64_t(number) * 1024;
}

std::string LowerCaseInLocale(std::string_view text) {
    std::string lower;
    lower.reserve(text.size());
    std::mbstate_t state{};
    size_t i = 0;
    while (i < text.size()) {
        unsigned char byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            // Every locale we meet keeps ASCII; the common case stays cheap.
            lower.push_back(char(byte >= 'A' && byte <= 'Z' ? byte + ('a' - 'A') : byte));
            ++i;
            continue;
        }
        wchar_t wide = 0;
        size_t used = std::mbrtowc(&wide, text.data() + i, text.size() - i, &state);
        if (used == size_t(-1) || used == size_t(-2) || used == 0) {
            state = std::mbstate_t{};
            lower.push_back(char(byte));
            ++i;
            continue;
        }
        char out[MB_LEN_MAX];
        std::mbstate_t outState{};
        size_t written = std::wcrtomb(out, wchar_t(std::towlower(wint_t(wide))), &outState);
        if (written == size_t(-1)) {
            lower.append(text.data() + i, used);
        } else {
            lower.append(out, written);
        }
        i += used;
    }
    return lower;
}

void RunSearch(TwinScanner& twins, const FilterCriteria& criteria, std::stop_token stop) {
    const bool twinsOnly = criteria.m_bTwinsOnly;
    const bool sizeRange = criteria.m_bSizeRange;
    const uint64_t upper = SizeBoundBytes(criteria.m_strMaxKB);
    const uint64_t lower = SizeBoundBytes(criteria.m_strMinKB);
    const std::string search = LowerCaseInLocale(criteria.m_strSearch);

    TwinRows& rows = twins.Rows();
    rows.DeleteAllItems();
    const BinBaum& tree = twins.Index();
    const bool byContent = tree.IsContentIndex();
    if (tree.m_nNodes != 0) {
        for (BinBaum::Cursor it = tree.First(); !it.AtEnd(); tree.Next(it)) {
            if (stop.stop_requested()) {
                return;
            }
            TreeNode node = it.Node();
            // By content, a group's files have names of their own.
            const bool namePerFile = byContent;
            if (!search.empty() && !namePerFile &&
                LowerCaseInLocale(node.Name()).find(search) == std::string::npos) {
                continue;
            }
            if (twinsOnly && !node.HasTwins()) {
                continue;
            }
            for (FileId file = node.FirstFile(); file != kNoFile; file = node.NextFile(file)) {
                if (tree.FileIsFolder(file)) {
                    continue;  // a twin folder: the filter finds files
                }
                if (namePerFile && !search.empty() &&
                    LowerCaseInLocale(tree.FileName(node.Id(), file)).find(search) ==
                        std::string::npos) {
                    continue;
                }
                if (!sizeRange || PassesSizeTest(tree.FileSize(file), lower, upper)) {
                    rows.AddRowForFile(node, file);
                }
            }
            PublishCount(twins, false);
        }
    }
    PublishCount(twins, true);
}

bool StartFileSearch(TwinScanner& twins, const FilterCriteria& criteria) {
    return twins.StartSearch([criteria](TwinScanner& target, std::stop_token stop) {
        RunSearch(target, criteria, stop);
    });
}

}  // namespace quarn
