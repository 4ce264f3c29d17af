#pragma once
// Which entries a walk leaves out, by shell patterns (`*`, `?`, `[...]`).
//
// A pattern without a "/" is matched against an entry's name, wherever the
// entry lies; one with a "/" against the entry's path relative to the scan
// root ("build/cache", "src/*/obj"), where `*` does not cross a "/". A
// leading "/" only anchors what is anchored anyway; a trailing "/" limits
// the pattern to folders. Empty patterns are dropped.
//
// Immutable once made; any thread may read it.

#include <string>
#include <string_view>
#include <vector>

namespace quarn {

class ExcludeRules {
  public:
    ExcludeRules() = default;
    explicit ExcludeRules(const std::vector<std::string>& patterns);

    // The patterns of a setting: separated by ";", blanks around each
    // pattern ignored.
    static std::vector<std::string> SplitPatternList(std::string_view text);

    bool Empty() const { return m_rules.empty(); }
    // The patterns as given (empty ones dropped), to add more to.
    const std::vector<std::string>& Patterns() const { return m_patterns; }
    // True when some pattern needs the path below the root, so that the walk
    // only keeps that path when it is asked for.
    bool NeedsRelativePath() const { return m_needsRelativePath; }

    // `name` is the entry's own name; `relativePath` its path below the scan
    // root without a leading "/" (only read when NeedsRelativePath()).
    bool Excludes(std::string_view name, std::string_view relativePath, bool isFolder) const;

  private:
    struct Rule {
        std::string pattern;  // NUL-terminated for fnmatch
        bool matchesPath = false;
        bool foldersOnly = false;
    };
    std::vector<std::string> m_patterns;
    std::vector<Rule> m_rules;
    bool m_needsRelativePath = false;
};

}  // namespace quarn
