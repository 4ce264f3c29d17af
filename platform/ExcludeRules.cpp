#include "platform/ExcludeRules.h"

#include <fnmatch.h>

namespace quarn {

namespace {

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace

ExcludeRules::ExcludeRules(const std::vector<std::string>& patterns) {
    for (const std::string& given : patterns) {
        std::string_view pattern = given;
        Rule rule;
        while (pattern.size() > 1 && pattern.back() == '/') {
            rule.foldersOnly = true;
            pattern.remove_suffix(1);
        }
        while (!pattern.empty() && pattern.front() == '/') {
            rule.matchesPath = true;  // "/build" means the root's build only
            pattern.remove_prefix(1);
        }
        if (pattern.empty() || pattern == "/") {
            continue;  // would leave out the whole tree, or nothing
        }
        if (pattern.find('/') != std::string_view::npos) {
            rule.matchesPath = true;
        }
        rule.pattern.assign(pattern);
        m_patterns.push_back(given);
        m_needsRelativePath = m_needsRelativePath || rule.matchesPath;
        m_rules.push_back(std::move(rule));
    }
}

std::vector<std::string> ExcludeRules::SplitPatternList(std::string_view text) {
    std::vector<std::string> patterns;
    while (!text.empty()) {
        size_t end = text.find(';');
        std::string_view one = TrimBlanks(text.substr(0, end));
        if (!one.empty()) {
            patterns.emplace_back(one);
        }
        if (end == std::string_view::npos) {
            break;
        }
        text.remove_prefix(end + 1);
    }
    return patterns;
}

bool ExcludeRules::Excludes(std::string_view name, std::string_view relativePath,
                            bool isFolder) const {
    if (m_rules.empty()) {
        return false;
    }
    // fnmatch wants NUL-terminated texts; names are short, paths rarely long.
    std::string nameText(name);
    std::string pathText;
    if (m_needsRelativePath) {
        pathText.assign(relativePath);
    }
    for (const Rule& rule : m_rules) {
        if (rule.foldersOnly && !isFolder) {
            continue;
        }
        bool matched = rule.matchesPath
                           ? ::fnmatch(rule.pattern.c_str(), pathText.c_str(), FNM_PATHNAME) == 0
                           : ::fnmatch(rule.pattern.c_str(), nameText.c_str(), 0) == 0;
        if (matched) {
            return true;
        }
    }
    return false;
}

}  // namespace quarn
