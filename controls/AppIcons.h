#pragma once
// The program's own pictures, painted in code so that they stay sharp at any
// device pixel ratio and need no image files: the tool bar buttons (26 x 26),
// the program icon and the two item images of the folder tree (16 x 16).
//
// UI thread only (they create pixmaps). Each call paints anew; callers keep
// the result when they need it more than once.

#include <QIcon>
#include <QPixmap>

namespace quarn {

inline constexpr int kToolBarImageSize = 26;
inline constexpr int kTreeImageSize = 16;

// Tool bar: three bars of falling length in the percentage bar's colours.
QIcon DirmassModeIcon();
// Tool bar: two sheets of paper joined by an equals sign.
QIcon DupmatchModeIcon();
// Tool bar: a funnel.
QIcon FileFilterIcon();
// Tool bar: a gear wheel.
QIcon SettingsIcon();
// Tool bar: an "i" in a blue disc.
QIcon AboutIcon();

// The window and task bar icon: a folder carrying a percentage bar.
QIcon ProgramIcon();

// Folder tree images: image 0, a sheet of paper (a folder's own files),
// image 1, a closed folder, and image 2, the folder with a red "no entry"
// mark (a folder that could not be read).
QPixmap FilesItemImage();
QPixmap FolderItemImage();
QPixmap UnreadableFolderItemImage();
// A folder on another file system, left out of the scan: the closed folder
// with a round grey mark in its lower right corner.
QPixmap OtherFileSystemItemImage();
// A folder that has a twin elsewhere: the closed folder with two stacked
// blue squares in its lower right corner.
QPixmap TwinFolderItemImage();

}  // namespace quarn
