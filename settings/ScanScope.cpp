#include "settings/ScanScope.h"

#include "settings/Settings.h"

namespace quarn {

WalkOptions WithScopeSettings(const WalkOptions& options) {
    WalkOptions scoped = options;
    std::vector<std::string> patterns = ExcludeRules::SplitPatternList(ReadSettingText(kExclude));
    if (!patterns.empty()) {
        patterns.insert(patterns.begin(), options.exclude.Patterns().begin(),
                        options.exclude.Patterns().end());
        scoped.exclude = ExcludeRules(patterns);
    }
    scoped.oneFileSystem = options.oneFileSystem || ReadSetting(kOneFileSystem, false);
    return scoped;
}

}  // namespace quarn
