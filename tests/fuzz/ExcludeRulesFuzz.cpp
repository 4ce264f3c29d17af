// The exclude rules on arbitrary patterns and entries. Input: one byte of
// flags (bit 0: the entry is a folder), then NUL-separated: a pattern list,
// a second pattern list, the entry's name and its path below the root.
//
// Checked: the list splits into non-empty trimmed patterns; rules from two
// lists exclude exactly what either list excludes; a rule for folders only
// never excludes a file that the same rule without it spares more; a name
// given as its own plain pattern is excluded; without path rules the path
// does not matter.

#include <string>
#include <string_view>
#include <vector>

#include "platform/ExcludeRules.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

using fuzz::SplitAtNul;

using quarn::ExcludeRules;

void CheckSplit(std::string_view text, const std::vector<std::string>& patterns) {
    for (const std::string& pattern : patterns) {
        FUZZ_CHECK(!pattern.empty());
        FUZZ_CHECK(pattern.find(';') == std::string::npos);
        FUZZ_CHECK(pattern.front() != ' ' && pattern.front() != '\t');
        FUZZ_CHECK(pattern.back() != ' ' && pattern.back() != '\t');
        FUZZ_CHECK(text.find(pattern) != std::string_view::npos);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const bool isFolder = (data[0] & 1) != 0;
    std::vector<std::string_view> parts =
        SplitAtNul(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
    parts.resize(4);
    const std::string_view name = parts[2], path = parts[3];

    std::vector<std::string> first = ExcludeRules::SplitPatternList(parts[0]);
    std::vector<std::string> second = ExcludeRules::SplitPatternList(parts[1]);
    CheckSplit(parts[0], first);
    CheckSplit(parts[1], second);
    std::vector<std::string> both = first;
    both.insert(both.end(), second.begin(), second.end());

    ExcludeRules rulesFirst(first), rulesSecond(second), rulesBoth(both);
    for (const ExcludeRules* rules : {&rulesFirst, &rulesSecond, &rulesBoth}) {
        for (const std::string& kept : rules->Patterns()) {
            FUZZ_CHECK(!kept.empty());
        }
        FUZZ_CHECK(rules->Empty() == rules->Patterns().empty());
    }
    FUZZ_CHECK(rulesBoth.NeedsRelativePath() ==
               (rulesFirst.NeedsRelativePath() || rulesSecond.NeedsRelativePath()));

    const bool excluded = rulesBoth.Excludes(name, path, isFolder);
    FUZZ_CHECK(excluded == (rulesFirst.Excludes(name, path, isFolder) ||
                            rulesSecond.Excludes(name, path, isFolder)));
    if (rulesBoth.Empty()) {
        FUZZ_CHECK(!excluded);
    }
    // Rules for folders only add to what folders lose.
    if (!isFolder && excluded) {
        FUZZ_CHECK(rulesBoth.Excludes(name, path, true));
    }
    if (!rulesBoth.NeedsRelativePath()) {
        FUZZ_CHECK(rulesBoth.Excludes(name, "", isFolder) == excluded);
    }
    // A name without wildcards, slashes or separators is its own pattern.
    if (!name.empty() && name.find_first_of("*?[\\/; \t") == std::string_view::npos &&
        name.find('\0') == std::string_view::npos) {
        ExcludeRules own(std::vector<std::string>{std::string(name)});
        FUZZ_CHECK(own.Excludes(name, path, isFolder));
    }
    return 0;
}
