// Scans that travel: the export read back by the peer tool (ncdu) and by our
// own import, the peer's export imported, and damaged files refused.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cli/ExportCommand.h"
#include "duplicates/TwinScanner.h"
#include "foldersize/FolderScanner.h"
#include "platform/ExportJob.h"
#include "platform/ExportWriter.h"
#include "platform/ImportReader.h"
#include "settings/Settings.h"
#include "tests/support/FolderTreeText.h"
#include "tests/support/ScanRequests.h"
#include "tests/support/TempTree.h"
#include "tests/support/TwinRowTexts.h"

namespace quarn {
namespace {

using test::ScopedEnv;
using test::TempTree;

// What a reader of the tree notices: every entry's path and size, totals.
class TreeSummary : public WalkSink {
  public:
    bool EnterFolder(const std::string& path, const FileEntry* entry) override {
        if (entry == nullptr) {
            rootLength = path.size();
        }
        entries[Relative(path) + "/"] = 0;
        return true;
    }
    void AddFile(const std::string& folderPath, const FileEntry& file) override {
        entries[Relative(folderPath) + "/" + std::string(file.name)] = file.size;
        apparent += file.size;
        allocated += file.allocatedSize;
        ++files;
    }
    void LeaveFolder(const std::string&) override {}
    void EntryExcluded(const std::string& folderPath, const FileEntry& entry,
                       ExclusionReason) override {
        excluded.push_back(Relative(folderPath) + "/" + std::string(entry.name));
    }
    std::string Relative(const std::string& path) const { return path.substr(rootLength); }

    size_t rootLength = 0;
    std::map<std::string, uint64_t> entries;
    std::vector<std::string> excluded;
    uint64_t apparent = 0;
    uint64_t allocated = 0;
    int files = 0;
};

ImportOutcome ReadFile(const std::string& file, WalkSink& sink) {
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_GE(fd, 0) << file;
    ImportOutcome outcome = ReadImport(fd, sink);
    ::close(fd);
    return outcome;
}

ImportOutcome ReadText(const std::string& text, WalkSink& sink) {
    int pipe[2];
    EXPECT_EQ(::pipe(pipe), 0);
    // Small inputs only: the pipe holds them whole.
    EXPECT_EQ(::write(pipe[1], text.data(), text.size()), ssize_t(text.size()));
    ::close(pipe[1]);
    ImportOutcome outcome = ReadImport(pipe[0], sink);
    ::close(pipe[0]);
    return outcome;
}

std::string Slurp(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool HavePeer() {
    return std::system("ncdu -v >/dev/null 2>&1") == 0;
}

// The items of a folder-size scan as the user sees them: text and size.
std::vector<std::string> Items(const FolderScanner& view) {
    std::vector<std::string> lines;
    std::vector<std::pair<NodeHandle, std::string>> stack{{view.Tree().GetRootItem(), ""}};
    while (!stack.empty()) {
        auto [item, prefix] = stack.back();
        stack.pop_back();
        std::optional<uint64_t> size = view.Tree().GetItemSize(item);
        std::string text = prefix + test::ItemText(view.Tree(), item);
        lines.push_back(text + " " + (size ? std::to_string(*size) : "-"));
        for (int row = view.Tree().GetChildCount(item); row-- > 0;) {
            stack.push_back({view.Tree().GetChildItem(item, row), text + "/"});
        }
    }
    return lines;
}

class ExportImportTest : public ::testing::Test {
  protected:
    ExportImportTest()
        : ini("QUARN_INI", settings.Path("quarn.ini")),
          data("XDG_DATA_HOME", settings.Path("data")) {
        tree.MakeFile("docs/a.txt", 1000);
        tree.MakeFile("docs/deep/b.bin", 5000);
        ::link(tree.Path("docs/a.txt").c_str(), tree.Path("docs/deep/a-link.txt").c_str());
        tree.MakeSymlink("a.txt", "docs/to-a");
        tree.MakeFile(std::string("odd/bad\xff\xfe name \"q\" \\ end"), 77);
        tree.MakeFile("odd/new\nline", 3);
        tree.MakeFile("cache/big.tmp", 90000);
        tree.MakeFile("locked/inside", 10);
        ::chmod(tree.Path("locked").c_str(), 0);
        tree.MakeFolder("empty");
    }
    ~ExportImportTest() override { ::chmod(tree.Path("locked").c_str(), 0755); }

    int Export(const std::string& file, std::vector<std::string> exclude = {}) {
        cli::ReportOptions options;
        options.folder = tree.Root();
        options.exportTree = true;
        options.exportFile = file;
        options.exclude = std::move(exclude);
        return cli::RunExportCommand(options);
    }

    TempTree settings;
    ScopedEnv ini;
    ScopedEnv data;  // exports are kept scans too
    TempTree tree;
    TempTree out;
};

// Names holding every byte a name may hold (all but NUL and '/'), 64 to a
// name, since a name is at most 255 bytes.
std::vector<std::string> NamesOfEveryByte() {
    std::vector<std::string> names;
    std::string name;
    for (int byte = 1; byte <= 0xff; ++byte) {
        if (byte != '/') {
            name += char(byte);
        }
        if (name.size() == 64 || byte == 0xff) {
            names.push_back("n" + std::to_string(names.size()) + name);
            name.clear();
        }
    }
    return names;
}

TEST_F(ExportImportTest, OurExportComesBackWholeFromOurImportAndThePeers) {
    const std::vector<std::string> oddNames = NamesOfEveryByte();
    for (const std::string& name : oddNames) {
        tree.MakeFile("bytes/" + name, 5);
    }
    const std::string file = out.Path("quarn.json");
    ASSERT_EQ(Export(file, {"cache"}), 0);
    TreeSummary walked;
    WalkOptions options;
    options.exclude = ExcludeRules({"cache"});
    WalkFolderTree(tree.Root(), walked, options);

    TreeSummary imported;
    ImportOutcome outcome = ReadFile(file, imported);
    ASSERT_TRUE(outcome.Ok()) << outcome.Describe();
    EXPECT_EQ(imported.entries, walked.entries);  // names byte for byte, sizes
    EXPECT_EQ(imported.excluded, std::vector<std::string>{"/cache"});
    EXPECT_EQ(imported.allocated, walked.allocated);
    EXPECT_TRUE(imported.entries.count(std::string("/odd/bad\xff\xfe name \"q\" \\ end")));
    for (const std::string& name : oddNames) {
        EXPECT_EQ(imported.entries.count("/bytes/" + name), 1u) << name;
    }

    if (!HavePeer()) {
        GTEST_SKIP() << "ncdu is not installed (tools/setup.sh installs it)";
    }
    const std::string again = out.Path("peer.json");
    ASSERT_EQ(std::system(("ncdu -f '" + file + "' -o '" + again + "' 2>/dev/null").c_str()), 0);
    TreeSummary peer;
    outcome = ReadFile(again, peer);
    ASSERT_TRUE(outcome.Ok()) << outcome.Describe();
    // The peer says nothing when it stops at a byte it cannot read: it writes
    // back what it read until then, so only the count tells.
    EXPECT_EQ(peer.entries.size(), walked.entries.size());
    EXPECT_EQ(peer.entries, imported.entries);
    EXPECT_EQ(peer.apparent, imported.apparent);
    EXPECT_EQ(peer.allocated, imported.allocated);
    EXPECT_EQ(peer.excluded, imported.excluded);
}

TEST_F(ExportImportTest, ThePeersExportImportedGivesTheSizesOfOurOwnScan) {
    if (!HavePeer()) {
        GTEST_SKIP() << "ncdu is not installed (tools/setup.sh installs it)";
    }
    const std::string file = out.Path("peer.json");
    ASSERT_EQ(
        std::system(("ncdu -0 --exclude cache -o '" + file + "' '" + tree.Root() + "'").c_str()),
        0);
    ASSERT_TRUE(WriteSettingText(kExclude, "cache"));
    ASSERT_TRUE(WriteSetting(kSortBySize, false));
    FolderScanner scanned;
    scanned.RunScan(test::FolderRequest(tree.Root()));
    FolderScanner imported;
    imported.RunScan(test::ImportRequest(file));
    EXPECT_EQ(imported.GetImportError(), "");
    EXPECT_EQ(imported.Tree().GetFigures().total, scanned.Tree().GetFigures().total);
    EXPECT_EQ(imported.Tree().GetFigures().files, scanned.Tree().GetFigures().files);
    // Children in the walk's order differ between two listings; compare sorted.
    std::vector<std::string> a = Items(scanned), b = Items(imported);
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    EXPECT_EQ(a, b);
    EXPECT_EQ(imported.GetStatus(), "Ready [imported " + file + "]");
}

TEST_F(ExportImportTest, TruncatedAndMalformedFilesAreRefusedWithTheirOffset) {
    const std::string file = out.Path("quarn.json");
    ASSERT_EQ(Export(file), 0);
    const std::string whole = Slurp(file);
    for (size_t cut : {size_t(0), size_t(1), size_t(20), whole.size() / 2, whole.size() - 3}) {
        TreeSummary sink;
        ImportOutcome outcome = ReadText(whole.substr(0, cut), sink);
        EXPECT_EQ(outcome.kind, ImportOutcome::Kind::Damaged) << cut;
        EXPECT_EQ(outcome.offset, cut);
        EXPECT_EQ(outcome.Describe().rfind("truncated at byte " + std::to_string(cut), 0), 0u)
            << outcome.Describe();
    }
    const std::string head = R"([1,2,{},[{"name":"/r"},)";
    struct Case {
        std::string text;
        uint64_t offset;
        std::string reason = "";
    } cases[] = {
        {head + R"({"name":"f","asize":x}]])", head.size() + 20},
        {head + R"({"name":"../up"}]])", head.size() + 16},  // leaves its folder
        {head + R"({"name":"a/b"}]])", head.size() + 14},
        {head + R"({"name":"f","asize":-1}]])", head.size() + 20},
        {head + R"({"name":"f"}]] trailing)", head.size() + 15},
        {R"([2,0,{},[{"name":"/r"}]])", 2},
        // Sizes are signed 64-bit and link counts 32-bit in every file
        // system: beyond, a number is damage (at its first digit), never a
        // size that wraps a total or a count cut to 0.
        {head + R"({"name":"f","asize":9223372036854775808}]])", head.size() + 20,
         "a size above 9223372036854775807 bytes"},
        {head + R"({"name":"f","dsize":18446744073709551615}]])", head.size() + 20,
         "a size above 9223372036854775807 bytes"},
        {head + R"([{"name":"d","asize":9223372036854775808}]]])", head.size() + 21,
         "a size above 9223372036854775807 bytes"},
        {head + R"({"name":"f","nlink":4294967296,"ino":1}]])", head.size() + 20,
         "a link count above 4294967295"},
        {head + R"({"name":"f","mode":4294984173}]])", head.size() + 19, "a mode above 4294967295"},
        {head + R"({"name":"f","asize":99999999999999999999}]])", head.size() + 20,
         "a number too large"},
        // A number ends at a blank: "1 2" is no 12, wherever it stands.
        {head + R"({"name":"f","asize":1 2}]])", head.size() + 23, "expected ',' or '}'"},
        {head + R"({"name":"f","uid":1 2}]])", head.size() + 21, "expected ',' or '}'"},
        {R"([1 0,{},[{"name":"/r"}]])", 3, "expected ','"},
    };
    for (const Case& c : cases) {
        TreeSummary sink;
        ImportOutcome outcome = ReadText(c.text, sink);
        EXPECT_EQ(outcome.kind, ImportOutcome::Kind::Damaged) << c.text;
        EXPECT_EQ(outcome.offset, c.offset) << c.text << ": " << outcome.Describe();
        EXPECT_EQ(outcome.Describe().rfind("malformed at byte ", 0), 0u) << outcome.Describe();
        EXPECT_NE(outcome.Describe().find(c.reason), std::string::npos) << outcome.Describe();
    }
    // The largest of each is still a file.
    TreeSummary largest;
    ASSERT_TRUE(ReadText(head + R"({"name":"f","asize":9223372036854775807,)"
                                R"("dsize":9223372036854775807,"nlink":4294967295,"ino":1}]])",
                         largest)
                    .Ok());
    EXPECT_EQ(largest.apparent, uint64_t(INT64_MAX));

    // The pane shows nothing of a damaged file and says why.
    std::ofstream(out.Path("cut.json"), std::ios::binary) << whole.substr(0, whole.size() / 2);
    FolderScanner view;
    view.RunScan(test::ImportRequest(out.Path("cut.json")));
    EXPECT_EQ(view.Tree().GetRootItem(), kNoNode);
    EXPECT_NE(view.GetImportError().find("truncated at byte"), std::string::npos);
    EXPECT_NE(view.GetStatus().find("[imported " + out.Path("cut.json") + "]"), std::string::npos);
}

TEST_F(ExportImportTest, AnImportedFolderOnAnotherFileSystemIsAMarkedItemOfSizeZero) {
    const std::string text =
        R"([1,2,{},[{"name":"/srv","dev":1},{"name":"f","asize":10},)"
        R"([{"name":"mnt","dev":2,"excluded":"othfs"}],{"name":"skip","excluded":"pattern"},)"
        R"([{"name":"sub"},{"name":"g","asize":5,"ino":9,"hlnkc":true}]]])";
    std::ofstream(out.Path("t.json"), std::ios::binary) << text;
    FolderScanner view;
    view.RunScan(test::ImportRequest(out.Path("t.json")));
    ASSERT_EQ(view.GetImportError(), "");
    EXPECT_EQ(view.Tree().GetFigures().total, 15u);
    NodeHandle root = view.Tree().GetRootItem();
    EXPECT_EQ(test::ItemText(view.Tree(), root), "/srv");
    std::map<std::string, std::optional<NodeKind>> kinds;
    for (int row = 0; row < view.Tree().GetChildCount(root); ++row) {
        NodeHandle child = view.Tree().GetChildItem(root, row);
        kinds[test::ItemText(view.Tree(), child)] = view.Tree().GetItemKind(child);
    }
    EXPECT_EQ(kinds.count("skip"), 0u);
    ASSERT_EQ(kinds.count("mnt"), 1u);
    EXPECT_EQ(kinds["mnt"], NodeKind::OtherFileSystem);
    EXPECT_EQ(kinds["sub"], NodeKind::Folder);
}

// A file is what the format writes as an object; a "mode" that says folder
// does not make it one (no sink is handed a folder as a file).
TEST_F(ExportImportTest, AFileWhoseModeSaysFolderIsStillAFileOfItsFolder) {
    struct Kinds : TreeSummary {
        void AddFile(const std::string& folderPath, const FileEntry& file) override {
            TreeSummary::AddFile(folderPath, file);
            folders += file.IsDirectory() ? 1 : 0;
            regular += file.IsRegularFile() ? 1 : 0;
        }
        int folders = 0;
        int regular = 0;
    } sink;
    ASSERT_TRUE(ReadText(R"([1,2,{},[{"name":"/r"},{"name":"d","asize":7,"mode":16877},)"
                         R"({"name":"f","asize":5,"mode":33188}]])",
                         sink)
                    .Ok());
    EXPECT_EQ(sink.files, 2);
    EXPECT_EQ(sink.apparent, 12u);
    EXPECT_EQ(sink.folders, 0);
    EXPECT_EQ(sink.regular, 1);  // only "f"; "d" is of no known kind
}

// An entry without a time (a folder the walk could only list, an import
// that gave none) is written without one, not as a time in 1970; a folder
// with a time keeps it, whether or not its inode is known.
TEST_F(ExportImportTest, AnEntryWithoutATimeIsWrittenWithoutOne) {
    const std::string file = out.Path("timeless.json");
    {
        FILE* output = std::fopen(file.c_str(), "w");
        ASSERT_NE(output, nullptr);
        ExportWriter writer(::fileno(output), "test");
        ASSERT_TRUE(ReadText(R"([1,2,{},[{"name":"/nowhere/r"},{"name":"f","asize":1},)"
                             R"({"name":"t","asize":2,"mtime":5},[{"name":"d","ino":7}],)"
                             R"([{"name":"e","mtime":6}]]])",
                             writer)
                        .Ok());
        ASSERT_TRUE(writer.Finish());
        std::fclose(output);
    }
    const std::string text = Slurp(file);
    EXPECT_NE(text.find(R"({"name":"f","asize":1,"dsize":0})"), std::string::npos) << text;
    EXPECT_NE(text.find(R"({"name":"t","asize":2,"dsize":0,"mtime":5})"), std::string::npos);
    EXPECT_NE(text.find(R"([{"name":"d","asize":0,"dsize":0}])"), std::string::npos) << text;
    EXPECT_NE(text.find(R"([{"name":"e","asize":0,"dsize":0,"mtime":6}])"), std::string::npos)
        << text;
}

// The window's export runs on a thread of its own: whole, it puts the file
// in place; cancelled, it leaves an older file as it was.
TEST_F(ExportImportTest, TheBackgroundExportIsWholeOrLeavesTheOldFile) {
    for (int i = 0; i < 200; ++i) {
        tree.MakeFile("many/f" + std::to_string(i) + "/x", 1);
    }
    const std::string file = out.Path("job.json");
    TreeSummary walked;  // as many files as a walk meets (the locked folder's depend on root)
    WalkFolderTree(tree.Root(), walked);
    ASSERT_GT(walked.files, 200);
    {
        ExportJob job(tree.Root(), file, WalkOptions(2), "test");
        job.Wait();
        ASSERT_TRUE(job.Done());
        EXPECT_EQ(job.Error(), "");
        EXPECT_EQ(job.Files(), walked.files);
    }
    TreeSummary imported;
    ASSERT_TRUE(ReadFile(file, imported).Ok());
    EXPECT_EQ(imported.files, walked.files);

    std::ofstream(file, std::ios::binary) << "old";
    {
        ExportJob job(tree.Root(), file, WalkOptions(1), "test");
        job.Cancel();
        job.Wait();
        ASSERT_TRUE(job.Done());
        // A walk this small may have finished before the cancel came.
        if (!job.Error().empty()) {
            EXPECT_EQ(job.Error(), "cancelled");
            EXPECT_EQ(Slurp(file), "old");
        }
    }
    for (const auto& entry : std::filesystem::directory_iterator(out.Root())) {
        EXPECT_EQ(entry.path().filename().string().find(".quarn-"), std::string::npos)
            << "a temporary file was left";
    }
}

// A folder on another file system keeps that meaning through the peer: it
// writes "othfs" for what it read as one, "pattern" for what it did not.
TEST_F(ExportImportTest, ThePeerReadsAnOtherFileSystemFolderAsOne) {
    if (!HavePeer()) {
        GTEST_SKIP() << "ncdu is not installed (tools/setup.sh installs it)";
    }
    const std::string file = out.Path("othfs.json");
    {
        int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ExportWriter writer(fd, "test");
        writer.EnterFolder(tree.Root(), nullptr);
        FileEntry mount;
        mount.name = "mnt";
        mount.mode = kDirectoryType;
        mount.device = 4242;
        writer.EntryExcluded(tree.Root(), mount, ExclusionReason::OtherFileSystem);
        writer.LeaveFolder(tree.Root());
        EXPECT_TRUE(writer.Finish());
        ::close(fd);
    }
    TreeSummary ours;
    ASSERT_TRUE(ReadFile(file, ours).Ok());
    EXPECT_EQ(ours.excluded, std::vector<std::string>{"/mnt"});
    const std::string again = out.Path("othfs-peer.json");
    ASSERT_EQ(std::system(("ncdu -f '" + file + "' -o '" + again + "' 2>/dev/null").c_str()), 0);
    EXPECT_NE(Slurp(again).find(R"("name":"mnt","dev":4242,"excluded":"othfs")"), std::string::npos)
        << Slurp(again);
}

// Twins over an import: names, sizes and times from the file give the rows a
// scan of the folder gives.
TEST_F(ExportImportTest, TwinsOfAnImportAreTheTwinsOfTheScan) {
    tree.MakeFile("docs/copy/b.bin", 5000);
    tree.SetModified("docs/copy/b.bin", 1600000000);
    tree.SetModified("docs/deep/b.bin", 1600000000);
    const std::string file = out.Path("quarn.json");
    ASSERT_EQ(Export(file), 0);
    auto rows = [](const TwinScanner& list) {
        std::vector<std::string> lines;
        for (int row = 0; row < list.Rows().GetItemCount(); ++row) {
            lines.push_back(test::TwinRowText(list, row, test::kPathText) + " " +
                            test::TwinRowText(list, row, test::kSizeText) + " " +
                            test::TwinRowText(list, row, test::kModifiedText));
        }
        std::sort(lines.begin(), lines.end());
        return lines;
    };
    TwinScanner scanned;
    scanned.Scan(test::FolderRequest(tree.Root()));
    TwinScanner imported;
    imported.Scan(test::ImportRequest(file));
    EXPECT_EQ(imported.GetImportError(), "");
    EXPECT_EQ(rows(imported), rows(scanned));
    EXPECT_EQ(rows(imported).size(), 2u);  // b.bin twice; the hard link is not a name twin
    EXPECT_EQ(imported.GetStatus(), scanned.GetStatus() + " [imported " + file + "]");
}

}  // namespace
}  // namespace quarn
