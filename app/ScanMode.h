#pragma once
// Which pane the window shows and what a Scan starts: 0 = Dirmass (folder
// sizes, the start-up default), 1 = Dupmatch (twin files). Set from the
// command line when the frame is made and by the two mode commands.
//
// UI thread only.

namespace quarn {

inline constexpr int kScanModeDirmass = 0;
inline constexpr int kScanModeDupmatch = 1;

extern int ScanMode;

}  // namespace quarn
