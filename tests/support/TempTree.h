#pragma once
// Temporary folders and files for tests, made at run time and removed after.

#include <cstdint>
#include <memory>
#include <string>

namespace quarn::test {

class TempTree {
  public:
    TempTree();
    ~TempTree();
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    // Absolute path of the temporary root folder (no trailing separator).
    const std::string& Root() const { return m_root; }
    // Root() + "/" + relative.
    std::string Path(const std::string& relative) const;

    // Creates the folder and its parents.
    void MakeFolder(const std::string& relative) const;
    // Creates a file (and its folders) holding `size` bytes of 'q'.
    void MakeFile(const std::string& relative, uint64_t size) const;
    // Creates a sparse file of `size` bytes (no data written).
    void MakeSparseFile(const std::string& relative, uint64_t size) const;
    // Sets the last-write time (seconds since 1970, may be negative).
    void SetModified(const std::string& relative, int64_t seconds, long nanoseconds = 0) const;
    void MakeSymlink(const std::string& target, const std::string& relative) const;

  private:
    std::string m_root;
};

// Sets an environment variable for a scope and restores it afterwards.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string m_name;
    bool m_hadValue = false;
    std::string m_oldValue;
};

// A temporary tree on a writable filesystem other than the one holding
// `near` (/dev/shm when it is one), for moves across devices; null when the
// machine has none.
std::unique_ptr<TempTree> TempTreeOnAnotherFileSystem(const std::string& near);

// True when the process runs as root (chmod does not keep root out).
bool RunningAsRoot();

}  // namespace quarn::test
