#include "controls/PropertiesDialog.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QMimeDatabase>
#include <QTimer>
#include <QVBoxLayout>
#include <set>
#include <utility>
#include <vector>

#include "controls/FileNameText.h"
#include "foldersize/SizeText.h"
#include "platform/FileTime.h"
#include "platform/FolderWalker.h"

namespace quarn {

namespace {

// "1.234 MB (1,293,942 bytes)", 1024-based like the rest of the program.
QString SizeText(uint64_t bytes) {
    return QObject::tr("%1 (%2 bytes)")
        .arg(QString::fromStdString(FormatSize(bytes)),
             QLocale(QLocale::English).toString(qulonglong(bytes)));
}

QString TimeText(const struct timespec& t) {
    std::string text =
        FormatLocalFileTime(FileTimeFromUnix(int64_t(t.tv_sec), t.tv_nsec), "%Y-%m-%d %H:%M:%S");
    return text.empty() ? QObject::tr("unknown") : QString::fromStdString(text);
}

QString PermissionText(mode_t mode) {
    char text[11] = "----------";
    if (S_ISDIR(mode)) {
        text[0] = 'd';
    } else if (S_ISLNK(mode)) {
        text[0] = 'l';
    } else if (S_ISFIFO(mode)) {
        text[0] = 'p';
    } else if (S_ISSOCK(mode)) {
        text[0] = 's';
    } else if (S_ISCHR(mode)) {
        text[0] = 'c';
    } else if (S_ISBLK(mode)) {
        text[0] = 'b';
    }
    const char* letters = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i) {
        if ((mode & (0400 >> i)) != 0) {
            text[1 + i] = letters[i];
        }
    }
    if ((mode & S_ISUID) != 0) {
        text[3] = (mode & S_IXUSR) != 0 ? 's' : 'S';
    }
    if ((mode & S_ISGID) != 0) {
        text[6] = (mode & S_IXGRP) != 0 ? 's' : 'S';
    }
    if ((mode & S_ISVTX) != 0) {
        text[9] = (mode & S_IXOTH) != 0 ? 't' : 'T';
    }
    return QString::fromLatin1(text) + QString::asprintf(" (%04o)", unsigned(mode & 07777));
}

QString UserName(uid_t uid) {
    std::vector<char> buffer(16384);
    struct passwd entry, *found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
        return QString::fromLocal8Bit(found->pw_name) + QString::asprintf(" (%u)", unsigned(uid));
    }
    return QString::number(uid);
}

QString GroupName(gid_t gid) {
    std::vector<char> buffer(16384);
    struct group entry, *found = nullptr;
    if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
        return QString::fromLocal8Bit(found->gr_name) + QString::asprintf(" (%u)", unsigned(gid));
    }
    return QString::number(gid);
}

QString TypeText(const std::string& path, const struct stat& st) {
    if (S_ISDIR(st.st_mode)) {
        return QObject::tr("Folder");
    }
    if (S_ISLNK(st.st_mode)) {
        return QObject::tr("Symbolic link");
    }
    if (S_ISFIFO(st.st_mode)) {
        return QObject::tr("Named pipe");
    }
    if (S_ISSOCK(st.st_mode)) {
        return QObject::tr("Socket");
    }
    if (S_ISCHR(st.st_mode)) {
        return QObject::tr("Character device");
    }
    if (S_ISBLK(st.st_mode)) {
        return QObject::tr("Block device");
    }
    QMimeType type = QMimeDatabase().mimeTypeForFile(FileNameText(path));
    return QObject::tr("%1 (%2)").arg(type.comment(), type.name());
}

// Adds up what lies below a folder; stops at the next folder when asked.
// The walk's records carry every entry's status: nothing is stat'ed again.
class CountSink : public WalkSink {
  public:
    // `rootBlocks`: the space the folder itself takes.
    CountSink(std::stop_token stop, uint64_t rootBlocks, std::atomic<uint64_t>& files,
              std::atomic<uint64_t>& folders, std::atomic<uint64_t>& apparent,
              std::atomic<uint64_t>& disk)
        : m_stop(std::move(stop)),
          m_rootBlocks(rootBlocks),
          m_files(files),
          m_folders(folders),
          m_apparent(apparent),
          m_disk(disk) {}

    bool EnterFolder(const std::string& path, const FileEntry* entry) override {
        if (m_stop.stop_requested()) {
            return false;
        }
        if (entry == nullptr) {
            m_disk += m_rootBlocks;
        } else if (entry->linkCount == 0) {
            // It could not be opened: the listing said only that it is a folder.
            ++m_folders;
            struct stat st;
            if (::lstat(path.c_str(), &st) == 0) {
                m_disk += uint64_t(st.st_blocks) * 512;
            }
        } else {
            ++m_folders;
            m_disk += entry->allocatedSize;
        }
        return true;
    }
    void AddFile(const std::string&, const FileEntry& file) override {
        ++m_files;
        m_apparent += file.size;
        // A file with several names takes its blocks once.
        if (file.linkCount > 1 && !m_seen.emplace(file.device, file.inode).second) {
            return;
        }
        m_disk += file.allocatedSize;
    }
    void LeaveFolder(const std::string&) override {}

  private:
    std::stop_token m_stop;
    uint64_t m_rootBlocks;
    std::atomic<uint64_t>& m_files;
    std::atomic<uint64_t>& m_folders;
    std::atomic<uint64_t>& m_apparent;
    std::atomic<uint64_t>& m_disk;
    std::set<std::pair<uint64_t, uint64_t>> m_seen;
};

}  // namespace

PropertiesDialog::PropertiesDialog(const std::string& path, QWidget* parent)
    : QDialog(parent), m_path(path) {
    QString shownPath = FileNameText(path);
    setWindowTitle(tr("Properties of %1")
                       .arg(QFileInfo(shownPath).fileName().isEmpty()
                                ? shownPath
                                : QFileInfo(shownPath).fileName()));
    auto* layout = new QVBoxLayout(this);
    m_pForm = new QFormLayout;
    layout->addLayout(m_pForm);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    AddRow(tr("Path:"), QStringLiteral("path"), shownPath);
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
        AddRow(tr("Error:"), QStringLiteral("error"), tr("The path no longer exists."));
        m_finished = true;
        return;
    }
    AddRow(tr("Type:"), QStringLiteral("type"), TypeText(path, st));
    if (S_ISLNK(st.st_mode)) {
        std::vector<char> buffer(size_t(st.st_size > 0 ? st.st_size : 4096) + 1);
        ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
        AddRow(tr("Link target:"), QStringLiteral("target"),
               n >= 0 ? FileNameText(std::string(buffer.data(), size_t(n))) : tr("unreadable"));
    }
    m_isFolder = S_ISDIR(st.st_mode);
    AddRow(tr("Size:"), QStringLiteral("size"), QString());
    AddRow(tr("Size on disk:"), QStringLiteral("disk"), QString());
    if (m_isFolder) {
        AddRow(tr("Contains:"), QStringLiteral("contains"), QString());
    }
    AddRow(tr("Modified:"), QStringLiteral("modified"), TimeText(st.st_mtim));
    AddRow(tr("Accessed:"), QStringLiteral("accessed"), TimeText(st.st_atim));
    AddRow(tr("Changed:"), QStringLiteral("changed"), TimeText(st.st_ctim));
    AddRow(tr("Owner:"), QStringLiteral("owner"), UserName(st.st_uid));
    AddRow(tr("Group:"), QStringLiteral("group"), GroupName(st.st_gid));
    AddRow(tr("Permissions:"), QStringLiteral("permissions"), PermissionText(st.st_mode));

    if (!m_isFolder) {
        m_files = 1;
        m_apparentBytes = uint64_t(st.st_size);
        m_diskBytes = uint64_t(st.st_blocks) * 512;
        m_finished = true;
        ShowFigures();
        return;
    }
    m_pTimer = new QTimer(this);
    connect(m_pTimer, &QTimer::timeout, this, &PropertiesDialog::ShowFigures);
    m_pTimer->start(100);
    uint64_t rootBlocks = uint64_t(st.st_blocks) * 512;
    m_counter = std::jthread([this, rootBlocks](std::stop_token stop) {
        CountSink sink(stop, rootBlocks, m_files, m_folders, m_apparentBytes, m_diskBytes);
        if (WalkFolderTree(m_path, sink) == WalkResult::Completed) {
            m_finished = true;
        }
    });
    ShowFigures();
}

PropertiesDialog::~PropertiesDialog() {
    StopCounting();
}

void PropertiesDialog::StopCounting() {
    if (m_counter.joinable()) {
        m_counter.request_stop();
        m_counter.join();
    }
    if (m_pTimer != nullptr) {
        m_pTimer->stop();
    }
}

void PropertiesDialog::done(int result) {
    StopCounting();
    ShowFigures();
    QDialog::done(result);
}

QLabel* PropertiesDialog::AddRow(const QString& label, const QString& field, const QString& text) {
    auto* value = new QLabel(text, this);
    value->setObjectName(field);
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    value->setWordWrap(field == QStringLiteral("path") || field == QStringLiteral("target"));
    m_pForm->addRow(label, value);
    return value;
}

PropertiesDialog::Figures PropertiesDialog::CurrentFigures() const {
    Figures figures;
    figures.finished = m_finished;  // read first: the counts below are then final
    figures.files = m_files;
    figures.folders = m_folders;
    figures.apparentBytes = m_apparentBytes;
    figures.diskBytes = m_diskBytes;
    return figures;
}

QString PropertiesDialog::FieldText(const QString& field) const {
    auto* label = findChild<QLabel*>(field);
    return label != nullptr ? label->text() : QString();
}

void PropertiesDialog::ShowFigures() {
    Figures figures = CurrentFigures();
    QString more;
    if (!figures.finished) {
        more = m_counter.joinable() ? tr(" (counting...)") : tr(" (stopped)");
    }
    if (auto* label = findChild<QLabel*>(QStringLiteral("size"))) {
        label->setText(SizeText(figures.apparentBytes) + more);
    }
    if (auto* label = findChild<QLabel*>(QStringLiteral("disk"))) {
        label->setText(SizeText(figures.diskBytes) + more);
    }
    if (auto* label = findChild<QLabel*>(QStringLiteral("contains"))) {
        label->setText(tr("%1 files, %2 folders")
                           .arg(QLocale(QLocale::English).toString(qulonglong(figures.files)),
                                QLocale(QLocale::English).toString(qulonglong(figures.folders))) +
                       more);
    }
    if (figures.finished && m_pTimer != nullptr) {
        m_pTimer->stop();
    }
}

}  // namespace quarn
