#pragma once
// Runs a copy or move (platform/FileOperation.h) on a worker thread while the
// user-interface thread shows its progress in a dialog that can be cancelled,
// and asks the user on that thread before anything is overwritten.

#include <functional>
#include <string>
#include <vector>

#include "platform/FileOperation.h"

class QWidget;

namespace quarn {

class FileOperationDialog {
  public:
    // Asked on the user-interface thread while the worker waits.
    using AskConflict = std::function<ConflictAnswer(QWidget* parent, const std::string& target,
                                                     const std::string& source)>;

    // Call on the user-interface thread; returns when the worker has ended
    // (events are processed meanwhile). An empty `ask` shows the question box.
    // The progress dialog and every question are children of `parent`'s
    // window, shown in front of it and modal to it.
    static FileOperationResult Run(QWidget* parent, FileOperation::Kind kind,
                                   const std::string& source, const std::string& destFolder,
                                   const AskConflict& ask = {});
    // Several sources as one operation (FileOperation::RunMany).
    static FileOperationResult Run(QWidget* parent, FileOperation::Kind kind,
                                   const std::vector<std::string>& sources,
                                   const std::string& destFolder, const AskConflict& ask = {});

    // The default question: Overwrite, Overwrite All, Skip, Skip All, Cancel;
    // a child of `parent`'s window, modal to it.
    static ConflictAnswer AskWithMessageBox(QWidget* parent, const std::string& target,
                                            const std::string& source);
};

}  // namespace quarn
