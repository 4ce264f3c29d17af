#include "platform/ImportSet.h"

#include <set>

#include "platform/PathRules.h"

namespace quarn {

namespace {

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Hands one file's events on with its root moved to `base` below the set's
// root and its devices set apart.
class RebasedSink final : public WalkSink {
  public:
    RebasedSink(WalkSink& sink, std::string base, std::string name, uint64_t deviceMark)
        : m_sink(sink),
          m_base(std::move(base)),
          m_name(std::move(name)),
          m_deviceMark(deviceMark) {}

    bool EnterFolder(const std::string& path, const FileEntry* entry) override {
        if (entry == nullptr) {
            m_root = path;
            FileEntry folder;
            folder.mode = kDirectoryType | 0755;
            folder.linkCount = 1;
            folder.hasTime = false;
            folder.device = m_deviceMark;
            folder.name = m_name;
            return m_sink.EnterFolder(m_base, &folder);
        }
        FileEntry moved = *entry;
        moved.device ^= m_deviceMark;
        return m_sink.EnterFolder(Moved(path), &moved);
    }
    void AddFile(const std::string& folderPath, const FileEntry& file) override {
        FileEntry moved = file;
        moved.device ^= m_deviceMark;
        m_sink.AddFile(Moved(folderPath), moved);
    }
    void LeaveFolder(const std::string& path) override { m_sink.LeaveFolder(Moved(path)); }
    void FolderUnreadable(const std::string& path, int errorNumber) override {
        m_sink.FolderUnreadable(Moved(path), errorNumber);
    }
    void EntryExcluded(const std::string& folderPath, const FileEntry& entry,
                       ExclusionReason reason) override {
        FileEntry moved = entry;
        moved.device ^= m_deviceMark;
        m_sink.EntryExcluded(Moved(folderPath), moved, reason);
    }
    void EntrySkipped(const std::string& folderPath, std::string_view name,
                      int errorNumber) override {
        m_sink.EntrySkipped(Moved(folderPath), name, errorNumber);
    }

  private:
    // The path below the file's root, put below the base instead.
    const std::string& Moved(const std::string& path) {
        m_moved = m_base;
        if (path.size() > m_root.size()) {
            std::string_view rest(path);
            rest.remove_prefix(m_root.size());
            if (!rest.empty() && rest.front() == kPathSeparator) {
                rest.remove_prefix(1);
            }
            AppendPathComponent(m_moved, rest);
        }
        return m_moved;
    }

    WalkSink& m_sink;
    std::string m_base;
    std::string m_name;
    uint64_t m_deviceMark;
    std::string m_root;
    std::string m_moved;
};

}  // namespace

std::vector<std::string> ImportSetNames(const std::vector<std::string>& files) {
    std::vector<std::string> names;
    std::set<std::string> used;
    for (size_t i = 0; i < files.size(); ++i) {
        std::string name = files[i] == "-" ? std::string("standard input") : files[i];
        const size_t slash = name.rfind(kPathSeparator);
        if (slash != std::string::npos) {
            name = name.substr(slash + 1);
        }
        for (const char* end : {".zst", ".gz", ".json"}) {
            if (EndsWith(name, end)) {
                name.resize(name.size() - std::string(end).size());
            }
        }
        if (name.empty() || name == "." || name == ".." || name.find('\0') != std::string::npos) {
            name = "import " + std::to_string(i + 1);
        }
        std::string unique = name;
        for (int n = 2; used.count(unique) != 0; ++n) {
            unique = name + " (" + std::to_string(n) + ")";
        }
        used.insert(unique);
        names.push_back(unique);
    }
    return names;
}

ImportOutcome ReadImportFiles(const std::vector<std::string>& files, WalkSink& sink,
                              std::string& error) {
    if (files.size() == 1) {
        return ReadImportFile(files.front(), sink, error);
    }
    error.clear();
    ImportOutcome outcome;
    const std::string root = kImportSetRoot;
    if (!sink.EnterFolder(root, nullptr)) {
        outcome.kind = ImportOutcome::Kind::Abandoned;
        return outcome;
    }
    const std::vector<std::string> names = ImportSetNames(files);
    for (size_t i = 0; i < files.size(); ++i) {
        std::string base = root;
        AppendPathComponent(base, names[i]);
        RebasedSink rebased(sink, base, names[i], uint64_t(i + 1) << 48);
        std::string fileError;
        outcome = ReadImportFile(files[i], rebased, fileError);
        if (!outcome.Ok()) {
            if (!fileError.empty()) {
                error = files[i] + ": " + fileError;
            }
            return outcome;
        }
    }
    sink.LeaveFolder(root);
    return outcome;
}

}  // namespace quarn
