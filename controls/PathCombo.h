#pragma once
// The path box of the main window: a drop-down list of the mounted volumes
// with their icons, the browse entry "Durchsuchen...", and every folder chosen
// through the picker, given on the command line or typed. Its edit field takes
// a typed folder, completing folder names from the file system as one types.
//
// UI thread only. Paths are kept as the raw bytes of the file system (item
// role kPathRole) so that names that are not valid UTF-8 survive; the shown
// text is only for display.

#include <QComboBox>

class QFileSystemModel;

#include <functional>
#include <optional>
#include <string>

namespace quarn {

class CPathCombo : public QComboBox {
    Q_OBJECT
  public:
    // Item data (Qt::UserRole) of the browse entry; path items carry their
    // index at insertion instead.
    static constexpr int kBrowseEntryData = 123;
    // Item role holding a path item's raw bytes (QByteArray).
    static constexpr int kPathRole = Qt::UserRole + 1;

    // Asks the user for a folder; returns the folder, or an empty text when
    // the user cancelled. Tests replace it to answer without a dialog.
    using FolderPicker = std::function<std::string(QWidget* parent)>;

    // Fills the box (FillDrives) at once.
    explicit CPathCombo(QWidget* parent = nullptr);

    // Appends the volumes (ListUserVolumes), then the browse entry, and
    // selects item 0. Called once by the constructor.
    void FillDrives();

    // Appends `path` (every double quote replaced by the separator, so a
    // quoted argument that ended in a separator gets it back) and selects it.
    // Returns the index of the new, now current item.
    int AddPath(std::string path);

    // The path of the current item; nothing when no item is selected or the
    // browse entry is. Text typed into the field is not looked at.
    std::optional<std::string> SelectedPath() const;

    // True when the edit field holds text of the user's own, not the
    // current item's.
    bool HasTypedText() const;

    // Takes the typed text as a folder: "~" stands for the home folder and
    // a relative path is taken from the program's working folder. When it
    // names a folder that can be listed, that folder becomes the current
    // item (an item with the same path is reused, otherwise one is appended)
    // and its path is returned. Otherwise nothing changes, the text stays
    // for the user to mend, and `error` says what is wrong with it.
    std::optional<std::string> AcceptTypedFolder(std::string& error);

    // The picker used by the browse entry; an empty function restores the
    // shell's folder picker (BrowseForFolder, see ShellOperations.h).
    void SetFolderPicker(FolderPicker picker);

    // True for the browse entry (not for a path item whose data is 123).
    bool IsBrowseEntry(int index) const;

    // Closing the list on the browse entry opens the picker: a chosen folder
    // is appended and selected, a cancel selects item 0.
    void hidePopup() override;

  Q_SIGNALS:
    // After the browse entry's picker has been answered; `chosen`: a folder
    // was picked and is now the current item.
    void browseFinished(bool chosen);
    // Enter was pressed in the edit field while its completion list was
    // open (otherwise the window's own Enter key is pressed).
    void enterPressed();

  private:
    // Appends `path` unchanged and selects it; returns its index.
    int AppendPath(const std::string& path);
    void Browse();
    std::string PickFolder();
    // Drops the user's text: the field shows the current item again.
    void ShowCurrentItem();
    // Has the folder the text ends in read for completion.
    void ListTypedFolder(const QString& text);

    FolderPicker m_picker;
    QFileSystemModel* m_folders = nullptr;  // the completer's folders; owned by the box
};

}  // namespace quarn
