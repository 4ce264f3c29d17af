#include "controls/FileOperationDialog.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QMetaObject>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "controls/FileNameText.h"

namespace quarn {

namespace {

QString DisplayName(const std::string& path) {
    return QFileInfo(FileNameText(path)).fileName();
}

// What the worker hands to the dialog's thread: progress figures, and a
// question it waits on. Both travel through this lock and are picked up by
// the dialog's timer, not through calls queued across threads: those would
// synchronise only inside Qt, where a race checker cannot see it.
struct SharedProgress {
    std::mutex lock;
    FileOperationProgress latest;
    struct Question {
        std::string target;
        std::string source;
    };
    std::optional<Question> question;      // set by the worker, taken by the timer
    std::optional<ConflictAnswer> answer;  // set by the timer, taken by the worker
    std::condition_variable answered;
};

}  // namespace

ConflictAnswer FileOperationDialog::AskWithMessageBox(QWidget* parent, const std::string& target,
                                                      const std::string& source) {
    QMessageBox box(parent != nullptr ? parent->window() : nullptr);
    box.setWindowModality(Qt::WindowModal);
    box.setIcon(QMessageBox::Question);
    box.setWindowTitle(QObject::tr("Replace"));
    box.setText(QObject::tr("\"%1\" already exists in this folder.\n\nReplace it with the one "
                            "being copied?")
                    .arg(FileNameText(target)));
    box.setInformativeText(QObject::tr("From: %1").arg(FileNameText(source)));
    QPushButton* overwrite = box.addButton(QObject::tr("Overwrite"), QMessageBox::YesRole);
    QPushButton* overwriteAll = box.addButton(QObject::tr("Overwrite All"), QMessageBox::YesRole);
    QPushButton* skip = box.addButton(QObject::tr("Skip"), QMessageBox::NoRole);
    QPushButton* skipAll = box.addButton(QObject::tr("Skip All"), QMessageBox::NoRole);
    QPushButton* cancel = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(skip);
    box.setEscapeButton(cancel);
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    if (clicked == overwrite) {
        return ConflictAnswer::Overwrite;
    }
    if (clicked == overwriteAll) {
        return ConflictAnswer::OverwriteAll;
    }
    if (clicked == skip) {
        return ConflictAnswer::Skip;
    }
    if (clicked == skipAll) {
        return ConflictAnswer::SkipAll;
    }
    return ConflictAnswer::Cancel;
}

FileOperationResult FileOperationDialog::Run(QWidget* parent, FileOperation::Kind kind,
                                             const std::string& source,
                                             const std::string& destFolder,
                                             const AskConflict& ask) {
    return Run(parent, kind, std::vector<std::string>{source}, destFolder, ask);
}

FileOperationResult FileOperationDialog::Run(QWidget* parent, FileOperation::Kind kind,
                                             const std::vector<std::string>& sources,
                                             const std::string& destFolder,
                                             const AskConflict& ask) {
    const std::string source = sources.empty() ? std::string() : sources.front();
    const bool copying = kind == FileOperation::Kind::Copy;
    // The main window owns every dialog of the operation. The progress
    // dialog shows only after a moment, so a question parented to it would
    // have a hidden owner and could open behind the window.
    QWidget* owner = parent != nullptr ? parent->window() : nullptr;
    QProgressDialog dialog(owner);
    dialog.setWindowTitle(copying ? QObject::tr("Copying") : QObject::tr("Moving"));
    dialog.setLabelText(
        (copying ? QObject::tr("Copying \"%1\"...") : QObject::tr("Moving \"%1\"..."))
            .arg(DisplayName(source)));
    dialog.setRange(0, 1000);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    dialog.setMinimumDuration(400);
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setValue(0);

    std::atomic<bool> cancel{false};
    SharedProgress shared;
    FileOperationResult result;
    QEventLoop loop;

    QObject::connect(&dialog, &QProgressDialog::canceled, [&cancel] { cancel = true; });

    FileOperationCallbacks callbacks;
    callbacks.cancel = &cancel;
    callbacks.progress = [&shared](const FileOperationProgress& p) {
        std::lock_guard guard(shared.lock);
        shared.latest = p;
    };
    // The worker waits while the question is asked on the dialog's thread.
    callbacks.askConflict = [&shared](const std::string& target, const std::string& from) {
        std::unique_lock guard(shared.lock);
        shared.answer.reset();
        shared.question = SharedProgress::Question{target, from};
        shared.answered.wait(guard, [&shared] { return shared.answer.has_value(); });
        return *shared.answer;
    };
    // The question's own window runs the timer as well: one question at a time.
    bool asking = false;
    auto answerQuestion = [&] {
        if (asking) {
            return;
        }
        std::optional<SharedProgress::Question> question;
        {
            std::lock_guard guard(shared.lock);
            question.swap(shared.question);
        }
        if (!question) {
            return;
        }
        asking = true;
        const ConflictAnswer answer =
            ask ? ask(owner, question->target, question->source)
                : AskWithMessageBox(owner, question->target, question->source);
        asking = false;
        if (dialog.wasCanceled()) {
            cancel = true;  // cancelled while the question was open
        }
        {
            std::lock_guard guard(shared.lock);
            shared.answer = answer;
        }
        shared.answered.notify_one();
    };

    auto refresh = [&] {
        answerQuestion();
        FileOperationProgress p;
        {
            std::lock_guard guard(shared.lock);
            p = shared.latest;
        }
        int value = 0;
        if (p.bytesTotal > 0) {
            value = int(p.bytesDone * 1000 / p.bytesTotal);
        } else if (p.filesTotal > 0) {
            value = int(p.filesDone * 1000 / p.filesTotal);
        }
        if (dialog.wasCanceled()) {
            cancel = true;
        } else {
            dialog.setValue(std::min(value, 999));
            if (!p.currentItem.empty()) {
                dialog.setLabelText(
                    (copying ? QObject::tr("Copying \"%1\"...") : QObject::tr("Moving \"%1\"..."))
                        .arg(DisplayName(p.currentItem)));
            }
        }
    };
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, refresh);
    timer.start(100);

    std::atomic<bool> finished{false};
    std::jthread worker([&] {
        result = sources.size() == 1 ? FileOperation::Run(kind, source, destFolder, callbacks)
                                     : FileOperation::RunMany(kind, sources, destFolder, callbacks);
        finished = true;
        // By name: no functor object that this thread might free after the
        // dialog's thread has run it.
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    loop.exec();
    // The loop also ends when the program is ending (the last window closed
    // before the progress showed), and no loop runs again then: stop the
    // operation, and keep delivering its questions until it has stopped, or
    // it would wait for this thread while this thread waits for it.
    while (!finished) {
        cancel = true;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    worker.join();
    timer.stop();
    return result;
}

}  // namespace quarn
