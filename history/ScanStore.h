#pragma once
// The kept scans: compressed exports under $XDG_DATA_HOME/quarn/scans/
// (default ~/.local/share/quarn/scans/), one file per finished scan, named
// by its folder and time, with what a list of them shows (the content hash,
// the total and the file count) in the name, so that listing reads no file:
//   SLUG_FOLDERHASH_YYYYMMDDTHHMMSSmmmZ_CONTENTHASH_TOTAL_FILES.json.zst
// SLUG is the folder's last name made safe for a file name; FOLDERHASH
// tells the folders apart exactly (the folder's bytes, hashed).
//
// A scan is written to a temporary name in the folder and renamed to its
// name only when whole, so a failed write (a full disk) leaves every kept
// scan as it was. A scan whose content hash is that of the folder's newest
// kept scan is not kept again. After a scan is kept, the folder's oldest
// beyond the limit are removed.
//
// No state but the directory: several stores of one directory may be used
// from several threads.

#include <cstdint>
#include <string>
#include <vector>

namespace quarn {

struct KeptScan {
    std::string file;        // the full path
    int64_t unixMillis = 0;  // when the scan ended, UTC
    uint64_t contentHash = 0;
    uint64_t total = 0;
    int64_t files = 0;
};

// The setting KeepScans: how many scans per folder are kept (default 10).
size_t KeepScansSetting();

class ScanStore {
  public:
    // The default directory, from XDG_DATA_HOME (or HOME).
    ScanStore();
    explicit ScanStore(std::string directory);

    const std::string& Directory() const { return m_directory; }

    // The kept scans of `folder` (exact bytes), newest first.
    std::vector<KeptScan> List(const std::string& folder) const;

    // A new temporary file in the directory (made when missing), open for
    // writing; -1 with `error` (an errno) when it cannot be made.
    int CreateTemporary(std::string& tempPath, int& error) const;

    enum class Kept { Kept, Unchanged, Failed };
    // The temporary file, written whole and closed, becomes the newest kept
    // scan of `folder` (`facts` without `file`; its time is now when 0),
    // unless the newest has the same content hash; then the folder keeps
    // its `keep` newest. `keptFile` is the new file's path when kept;
    // `error` is an errno when the rename failed. The temporary file is gone
    // afterwards whatever happened.
    Kept Commit(const std::string& tempPath, const std::string& folder, KeptScan facts, size_t keep,
                std::string& keptFile, int& error) const;

    // Removes the folder's kept scans beyond its `keep` newest.
    void Prune(const std::string& folder, size_t keep) const;

    // The name a kept scan of `folder` at `facts` gets (no directory).
    static std::string FileName(const std::string& folder, const KeptScan& facts);
    // Reads a kept scan's name; false for a name that is none.
    static bool ParseFileName(const std::string& name, uint64_t& folderHash, KeptScan& facts);
    static uint64_t FolderHash(const std::string& folder);

  private:
    std::string m_directory;
};

}  // namespace quarn
