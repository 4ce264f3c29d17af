#pragma once
// Several exports read as one tree (many machines in one view): a root named
// "imported" with each file's tree as a folder of its own below it, named by
// the file ("host1.json.zst" gives "host1"). Totals add up as for any folder.
// Each file's device numbers are set apart from the others', so that inode
// numbers of two machines never pass for hard links of one file.
//
// One file is read as ReadImportFile reads it, with no root added. A damaged
// file makes the whole set fail: part of the machines would pass for all.

#include <string>
#include <vector>

#include "platform/ImportReader.h"

namespace quarn {

inline constexpr const char* kImportSetRoot = "imported";

// The folder name each file's tree gets, in the files' order: the file's own
// name less ".json", ".zst", ".gz"; a name used already gets " (2)", " (3)".
std::vector<std::string> ImportSetNames(const std::vector<std::string>& files);

// Reads every file into `sink` in turn. `error` as ReadImportFile gives it,
// prefixed by the file's name when several are read.
ImportOutcome ReadImportFiles(const std::vector<std::string>& files, WalkSink& sink,
                              std::string& error);

}  // namespace quarn
