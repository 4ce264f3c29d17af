#pragma once
// One scan as the window, the report or an export asks for it: where the
// tree comes from, how the walk runs, and what is made of it. Built once,
// when the scan is asked for (ScanRequestFromSettings); the engines read
// the settings no more while they walk, and a refresh of part of the tree
// walks with the request that made it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/WalkOptions.h"

namespace quarn {

// How many of the largest files a folder scan keeps when nobody says.
inline constexpr size_t kDefaultLargestFiles = 1000;

struct ScanRequest {
    enum class Source : uint8_t { Folder, ImportFile };

    Source source = Source::Folder;
    // The folder to walk, or the export file to read ("-": standard input).
    std::string root;
    // Several export files shown as one tree (platform/ImportSet.h); the
    // first is `root` too. Empty for one.
    std::vector<std::string> importSet;
    // Threads and scope (the settings' Exclude and OneFileSystem included).
    WalkOptions walk;
    // Folder sizes are the space files take on the disk, not their lengths.
    bool allocatedSizes = false;
    // The folder scan keeps this many of the largest files and the file
    // types; 0 keeps neither.
    size_t largestFiles = kDefaultLargestFiles;
    // The folder scan's walk also fills the twin list (TwinMode off, and
    // every import).
    bool feedTwins = false;
    // The twin test's flags (TwinGroup.h: kCompareIgnoreSize,
    // kCompareIgnoreTime), from CmpSize and CmpDate.
    uint8_t twinCompare = 0;
    // The twins' contents are compared when the walk has ended.
    bool verifyContents = false;
    // Twins are files of identical content whatever their names
    // (twinCompare holds kCompareContent); a content search follows the walk.
    bool contentTwins = false;
    // Folders whose files are never selected, trashed or replaced; those
    // outside the root are walked for the twins too. Absolute, normalised.
    std::vector<std::string> referenceFolders;
    // Content hashes are kept between searches (the hash cache).
    bool hashCache = false;
    // A content search takes only files larger than the first and smaller
    // than the second (bytes; 0 = no bound), as the File Filter's bounds.
    uint64_t minContentSize = 0;
    uint64_t maxContentSize = 0;
    // Readers of a content search; 0 lets the device decide (one on a
    // rotating disk, several elsewhere).
    unsigned contentReaders = 0;
    // Twin folders may hold files of other names (TwinFoldersIgnoreNames):
    // the same contents and structure suffice.
    bool twinFoldersIgnoreNames = false;

    bool IsImport() const { return source == Source::ImportFile; }
    // The export files an import reads: `root` alone, or every one.
    std::vector<std::string> ImportFiles() const {
        return importSet.empty() ? std::vector<std::string>{root} : importSet;
    }
};

// What a caller adds to the settings for one scan (the report's options).
struct ScanAdditions {
    WalkOptions walk;        // --threads, --exclude, -x
    bool allocated = false;  // --allocated: the space taken, whatever AllocatedSize says
    bool verify = false;     // --verify: compare contents, whatever VerifyContents says
    bool content = false;    // --content: twins by content, whatever TwinsByContent says
    std::vector<std::string> references;  // --reference, added to ReferenceFolders
    bool noCache = false;                 // --no-cache: no hash cache, whatever HashCache says
};

// The request for `root` with the settings as they are now: the scope
// (Exclude, OneFileSystem), the measure (AllocatedSize), the twin test
// (CmpSize, CmpDate), VerifyContents, TwinsByContent, ReferenceFolders and
// HashCache, plus the caller's additions.
ScanRequest ScanRequestFromSettings(ScanRequest::Source source, std::string root,
                                    const ScanAdditions& additions = {});

}  // namespace quarn
