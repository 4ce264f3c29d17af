#pragma once
// The one way every change on the disk made from the window is told: a pane,
// a list or a dialog that trashed, deleted or moved something away announces
// what left (AnnounceRemoved), one that copied or moved something into a
// folder announces the folder (AnnounceChanged). Every pane follows the
// signals: the folder tree, its totals and the treemap, Largest Files and
// File Types, and the twin list. An announcer follows its own announcement
// like everyone else.
//
// Interface thread only; the window owns one and hands it to its panes.

#include <QObject>

#include <cstdint>
#include <string>
#include <vector>

namespace quarn {

struct RemovedPath {
    std::string path;
    bool isFolder = false;  // a folder and everything below it left
    uint64_t bytes = 0;     // a file's size as the scans counted it (0 when unknown)
};

class DiskChanges : public QObject {
    Q_OBJECT

  public:
    explicit DiskChanges(QObject* parent = nullptr) : QObject(parent) {}

    // What one action took off the disk; an empty list says nothing.
    void AnnounceRemoved(const std::vector<RemovedPath>& removed) {
        if (!removed.empty()) {
            Q_EMIT pathsRemoved(removed);
        }
    }
    // Something arrived below `folder` (a copy or a move into it).
    void AnnounceChanged(const std::string& folder) { Q_EMIT folderChanged(folder); }

  Q_SIGNALS:
    void pathsRemoved(const std::vector<quarn::RemovedPath>& removed);
    void folderChanged(const std::string& folder);
};

}  // namespace quarn
