// The one command line of every mode: each option of the table is taken in
// its modes and refused in the others, every usage line the help prints is a
// line the program takes, "--" makes any name a folder, and an option's
// value is whatever argument comes next.

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "cli/ProgramArguments.h"
#include "cli/ProgramHelp.h"

namespace quarn::cli {
namespace {

constexpr unsigned kModes[] = {kWindowMode,  kReportMode,  kExportMode,
                               kTreemapMode, kUiBenchMode, kDedupeMode};

// A value for each value name of the table and the usage lines.
std::string ValueFor(const std::string& name) {
    static const std::map<std::string, std::string> values = {
        {"FOLDER", "/srv"},     {"FILE", "x.json"},   {"FILE.png", "x.png"}, {"N", "2"},
        {"PATTERN", "*.tmp"},   {"TEXT", "a"},        {"WxH", "100x100"},    {"DIR", "/srv/ref"},
        {"METHOD", "hardlink"}, {"change", "change"},
    };
    const auto found = values.find(name);
    return found != values.end() ? found->second : "value";
}

ProgramCommand Parse(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "quarn");
    return ParseProgramArguments(arguments);
}

std::string Refusal(const ProgramCommand& command) {
    const auto* error = std::get_if<UsageError>(&command);
    return error != nullptr ? error->message : "";
}

// The folder a command would scan or show.
std::optional<std::string> FolderOf(const ProgramCommand& command) {
    if (const auto* window = std::get_if<WindowArguments>(&command)) {
        return window->folder;
    }
    if (const auto* report = std::get_if<ReportArguments>(&command)) {
        return report->options.folder;
    }
    if (const auto* exported = std::get_if<ExportArguments>(&command)) {
        return exported->options.folder;
    }
    if (const auto* treemap = std::get_if<TreemapArguments>(&command)) {
        return treemap->options.folder;
    }
    if (const auto* dedupe = std::get_if<DedupeArguments>(&command)) {
        return dedupe->options.folder;
    }
    if (const auto* bench = std::get_if<UiBenchArguments>(&command)) {
        return bench->folder;
    }
    return std::nullopt;
}

// The shortest line of each mode, without its folder.
std::vector<std::string> ModeLine(unsigned mode) {
    switch (mode) {
        case kReportMode:
            return {"--report"};
        case kExportMode:
            return {"--export", "x.json"};
        case kTreemapMode:
            return {"--treemap", "x.png"};
        case kUiBenchMode:
            return {"--bench-ui"};
        case kDedupeMode:
            return {"--dedupe", "hardlink"};
        default:
            return {};
    }
}

bool IsTwinListOption(OptionId id) {
    for (const ProgramOption& row : ProgramOptions()) {
        if (row.id == id && row.help != nullptr &&
            std::string_view(row.help).starts_with("twin files")) {
            return true;
        }
    }
    return false;
}

TEST(ProgramArguments, EveryOptionIsTakenInItsModesAndRefusedElsewhere) {
    for (const ProgramOption& option : ProgramOptions()) {
        if (option.id == OptionId::Folder) {
            continue;  // every line below has its folder
        }
        std::vector<std::string> spellings = {option.name};
        if (option.shortName) {
            spellings.push_back(option.shortName);
        }
        for (std::string spelled : spellings) {
            if (spelled.ends_with('=')) {
                spelled += "value";
            }
            for (unsigned mode : kModes) {
                if (option.selects != 0 && mode == kWindowMode) {
                    continue;  // an option that selects a mode makes it the line's mode
                }
                std::vector<std::string> line = ModeLine(mode);
                // The twin list's options come with the twin list (one row
                // of the option says so; --reference has one for --dedupe too).
                if (mode == kReportMode && IsTwinListOption(option.id)) {
                    line.push_back("--dupmatch");
                }
                // The order by change needs the earlier scan.
                if (mode == kReportMode && option.id == OptionId::SortBy) {
                    line.insert(line.end(), {"--since", "x.json"});
                }
                line.push_back(spelled);
                if (option.valueName) {
                    line.push_back(ValueFor(option.valueName));
                }
                // An import's file takes the folder's place.
                if (option.id != OptionId::Import) {
                    line.push_back("/srv");
                }
                const ProgramCommand command = Parse(line);
                const std::string context = spelled + " in " + ModeName(mode);
                const unsigned accepting = ModesAccepting(spelled);
                if (option.id == OptionId::Help) {
                    EXPECT_TRUE(std::holds_alternative<HelpRequest>(command)) << context;
                } else if (option.id == OptionId::Version) {
                    EXPECT_TRUE(std::holds_alternative<VersionRequest>(command)) << context;
                } else if (option.modes & mode) {
                    EXPECT_EQ(Refusal(command), "") << context;
                    if (option.id != OptionId::Import) {
                        EXPECT_EQ(FolderOf(command), "/srv") << context;
                    }
                } else if (option.selects != 0) {
                    EXPECT_EQ(Refusal(command),
                              line[0] + " and " + option.name + " cannot be combined")
                        << context;
                } else if ((accepting & mode) == 0) {
                    const std::string refusal = Refusal(command);
                    EXPECT_TRUE(refusal.starts_with(spelled + " is for ")) << refusal;
                    EXPECT_TRUE(refusal.ends_with(std::string(", not for ") + ModeName(mode)))
                        << refusal;
                    // It names where the option belongs: its row's first mode.
                    const unsigned first = option.modes & (~option.modes + 1);
                    EXPECT_NE(refusal.find(ModeName(first)), std::string::npos) << refusal;
                } else {
                    // Another row of the same option takes it here.
                    EXPECT_EQ(Refusal(command), "") << context;
                }
            }
        }
    }
    // As the user reads them.
    EXPECT_EQ(Refusal(Parse({"--json", "/srv"})),
              "--json is for --report and --dedupe, not for the window");
    EXPECT_EQ(Refusal(Parse({"--export", "x", "--allocated", "/srv"})),
              "--allocated is for --report and --treemap, not for --export");
    EXPECT_EQ(Refusal(Parse({"--threads", "2", "/srv"})),
              "--threads is for --report, --export, --treemap and --dedupe, not for the window");
    EXPECT_EQ(Refusal(Parse({"--report", "/dupmatch", "/srv"})),
              "/dupmatch is for the window, not for --report");
    EXPECT_EQ(Refusal(Parse({"--report", "-platform", "xcb", "/srv"})),
              "-platform is for the window, not for --report");
    EXPECT_EQ(Refusal(Parse({"--export", "x", "--import", "y"})),
              "--import is for the window and --report, not for --export");
}

// The usage lines of the help, each joined from its continuation lines.
std::vector<std::string> UsageLines() {
    std::vector<std::string> lines;
    std::istringstream help(ProgramHelpText());
    std::string line;
    bool inside = false;
    while (std::getline(help, line)) {
        if (line.starts_with("usage: ")) {
            inside = true;
        } else if (!inside) {
            continue;
        } else if (line.empty()) {
            break;
        }
        if (line.find_first_not_of(' ', 7) == 7) {
            lines.push_back(line.substr(7));
        } else {
            lines.back() += line;
        }
    }
    return lines;
}

// Every line a usage line stands for: each optional part in and out, each
// alternative, a repeatable part twice.
class UsageForms {
  public:
    explicit UsageForms(const std::string& usage) {
        for (size_t at = 0; at < usage.size();) {
            if (usage[at] == ' ') {
                ++at;
            } else if (usage.compare(at, 3, "...") == 0) {
                m_tokens.push_back("...");
                at += 3;
            } else if (std::string_view("[]|").find(usage[at]) != std::string_view::npos) {
                m_tokens.push_back(std::string(1, usage[at++]));
            } else {
                const size_t end = usage.find_first_of(" []|", at);
                m_tokens.push_back(usage.substr(at, end - at));
                at = end == std::string::npos ? usage.size() : end;
            }
        }
    }

    std::vector<std::vector<std::string>> All() {
        m_next = 0;
        EXPECT_EQ(Take(), "quarn");
        std::vector<std::vector<std::string>> forms = Alternatives();
        EXPECT_EQ(m_next, m_tokens.size()) << "unbalanced usage line";
        return forms;
    }

  private:
    using Forms = std::vector<std::vector<std::string>>;

    std::string Take() { return m_next < m_tokens.size() ? m_tokens[m_next++] : ""; }
    std::string Peek() const { return m_next < m_tokens.size() ? m_tokens[m_next] : ""; }

    Forms Alternatives() {
        Forms forms = Sequence();
        while (Peek() == "|") {
            Take();
            Forms other = Sequence();
            forms.insert(forms.end(), other.begin(), other.end());
        }
        return forms;
    }

    Forms Sequence() {
        Forms forms = {{}};
        while (!Peek().empty() && Peek() != "|" && Peek() != "]") {
            Forms item;
            const std::string token = Take();
            if (token == "[") {
                Forms inner = Alternatives();
                EXPECT_EQ(Take(), "]");
                item = {{}};
                item.insert(item.end(), inner.begin(), inner.end());
                if (Peek() == "...") {
                    Take();
                    for (const std::vector<std::string>& once : inner) {
                        std::vector<std::string> twice = once;
                        twice.insert(twice.end(), once.begin(), once.end());
                        item.push_back(twice);
                    }
                }
            } else {
                // FOLDER, N, WxH: a value to fill in.
                const bool placeholder = token[0] >= 'A' && token[0] <= 'Z';
                item = {{placeholder ? ValueFor(token) : token}};
            }
            Forms joined;
            for (const std::vector<std::string>& before : forms) {
                for (const std::vector<std::string>& after : item) {
                    std::vector<std::string> both = before;
                    both.insert(both.end(), after.begin(), after.end());
                    joined.push_back(both);
                }
            }
            forms = std::move(joined);
        }
        return forms;
    }

    std::vector<std::string> m_tokens;
    size_t m_next = 0;
};

TEST(ProgramArguments, EveryLineTheUsageStandsForIsTaken) {
    const std::vector<std::string> lines = UsageLines();
    ASSERT_GE(lines.size(), 8u);
    size_t checked = 0;
    for (const std::string& usage : lines) {
        for (const std::vector<std::string>& form : UsageForms(usage).All()) {
            const std::string refusal = Refusal(Parse(form));
            std::string typed;
            for (const std::string& word : form) {
                typed += " " + word;
            }
            EXPECT_EQ(refusal, "") << usage << "\n as:" << typed;
            ++checked;
        }
    }
    // The optional parts really were combined.
    EXPECT_GT(checked, 500u);
}

TEST(ProgramArguments, AfterTwoDashesEveryArgumentIsAFolderInEveryMode) {
    for (unsigned mode : kModes) {
        for (const char* name : {"-odd-folder", "--dupmatch", "--help", "/dupmatch", "--"}) {
            std::vector<std::string> line = ModeLine(mode);
            line.insert(line.end(), {"--", name});
            const ProgramCommand command = Parse(line);
            EXPECT_EQ(Refusal(command), "") << name << " in " << ModeName(mode);
            EXPECT_EQ(FolderOf(command).value_or("none"), name) << ModeName(mode);
        }
        // Without it the name is an option, and not one of ours.
        std::vector<std::string> line = ModeLine(mode);
        line.push_back("-odd-folder");
        EXPECT_EQ(Refusal(Parse(line)), "unknown option -odd-folder") << ModeName(mode);
        line = ModeLine(mode);
        line.insert(line.end(), {"/srv", "-v"});
        EXPECT_EQ(Refusal(Parse(line)), "unknown option -v") << ModeName(mode);
        // A lone dash is a name.
        line = ModeLine(mode);
        line.push_back("-");
        EXPECT_EQ(FolderOf(Parse(line)).value_or("none"), "-") << ModeName(mode);
    }
    const ProgramCommand twins = Parse({"--report", "--", "--dupmatch"});
    ASSERT_TRUE(std::holds_alternative<ReportArguments>(twins));
    EXPECT_FALSE(std::get<ReportArguments>(twins).options.dupmatch);
    const ProgramCommand window = Parse({"--", "/dupmatch"});
    ASSERT_TRUE(std::holds_alternative<WindowArguments>(window));
    EXPECT_FALSE(std::get<WindowArguments>(window).dupmatch);
}

TEST(ProgramArguments, AValueIsWhateverComesNext) {
    const ProgramCommand filter = Parse({"--report", "--dupmatch", "--filter", "-x", "/srv"});
    ASSERT_TRUE(std::holds_alternative<ReportArguments>(filter)) << Refusal(filter);
    EXPECT_EQ(std::get<ReportArguments>(filter).options.filterText, "-x");
    EXPECT_FALSE(std::get<ReportArguments>(filter).options.oneFileSystem);

    const ProgramCommand exclude = Parse({"--report", "--exclude", "--", "/srv"});
    ASSERT_TRUE(std::holds_alternative<ReportArguments>(exclude)) << Refusal(exclude);
    EXPECT_EQ(std::get<ReportArguments>(exclude).options.exclude, std::vector<std::string>{"--"});
    EXPECT_EQ(std::get<ReportArguments>(exclude).options.folder, "/srv");

    // A value that reads like the help asks for no help, and one that reads
    // like a mode selects none.
    const ProgramCommand help = Parse({"--report", "--dupmatch", "--filter", "--help", "/srv"});
    ASSERT_TRUE(std::holds_alternative<ReportArguments>(help)) << Refusal(help);
    const ProgramCommand picture = Parse({"--treemap", "--report", "/srv"});
    ASSERT_TRUE(std::holds_alternative<TreemapArguments>(picture)) << Refusal(picture);
    EXPECT_EQ(std::get<TreemapArguments>(picture).options.pictureFile, "--report");
    const ProgramCommand import = Parse({"--import", "--json"});
    ASSERT_TRUE(std::holds_alternative<WindowArguments>(import)) << Refusal(import);
    EXPECT_EQ(std::get<WindowArguments>(import).importFile.value_or(""), "--json");

    for (const char* last : {"--threads", "--import", "--treemap", "-platform", "--filter"}) {
        EXPECT_EQ(Refusal(Parse({"--report", last})), std::string(last) + " needs a value");
    }
    // Help still wins over a line that is wrong elsewhere.
    EXPECT_TRUE(std::holds_alternative<HelpRequest>(Parse({"--bogus", "-h", "--threads"})));
}

TEST(ProgramArguments, TwoModesOrTwoFoldersAreRefused) {
    EXPECT_EQ(Refusal(Parse({"--report", "--treemap", "x.png", "/srv"})),
              "--report and --treemap cannot be combined");
    EXPECT_EQ(Refusal(Parse({"--export", "x", "--report", "/srv"})),
              "--export and --report cannot be combined");
    EXPECT_EQ(Refusal(Parse({"--bench-ui", "--export", "x", "/srv"})),
              "--bench-ui and --export cannot be combined");
    // The same mode twice is still one mode.
    EXPECT_EQ(Refusal(Parse({"--report", "--json", "--report", "/srv"})), "");
    for (unsigned mode : kModes) {
        std::vector<std::string> line = ModeLine(mode);
        line.insert(line.end(), {"/srv/a", "/srv/b"});
        EXPECT_EQ(Refusal(Parse(line)), "only one folder can be scanned, got also /srv/b")
            << ModeName(mode);
    }
    EXPECT_EQ(Refusal(Parse({"--import", "x.json", "/srv"})),
              "--import takes the tree from its file, not from /srv");
}

TEST(ProgramArguments, TheWindowHandsQtItsOwnOptionsAlone) {
    const ProgramCommand command =
        Parse({"-platform", "offscreen", "/dupmatch", "-style=fusion", "--reverse", "-qwindowtitle",
               "/srv/not-a-folder", "/srv"});
    ASSERT_TRUE(std::holds_alternative<WindowArguments>(command)) << Refusal(command);
    const WindowArguments& window = std::get<WindowArguments>(command);
    EXPECT_EQ(window.toolkitArguments,
              (std::vector<std::string>{"-platform", "offscreen", "-style=fusion", "--reverse",
                                        "-qwindowtitle", "/srv/not-a-folder"}));
    EXPECT_TRUE(window.dupmatch);
    EXPECT_EQ(window.folder.value_or(""), "/srv");
    // Spelled like a folder, a switch is one only as a whole word.
    const ProgramCommand path = Parse({"/data/dupmatch_old"});
    ASSERT_TRUE(std::holds_alternative<WindowArguments>(path));
    EXPECT_FALSE(std::get<WindowArguments>(path).dupmatch);
    EXPECT_EQ(Refusal(Parse({"-platformx", "/srv"})), "unknown option -platformx");
}

}  // namespace
}  // namespace quarn::cli
