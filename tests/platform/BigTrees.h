#pragma once
// Trees too big to make with the ordinary helpers in reasonable time: a
// chain of folders 100,000 levels deep, a folder of 100,000 entries. They
// live in memory (tmpfs) where the machine has one, since a disk that
// discards every freed block takes minutes to remove them.

#include <functional>
#include <memory>
#include <string>

#include "tests/support/TempTree.h"

namespace quarn::test {

// A temporary tree on /dev/shm when that is a writable tmpfs, else an
// ordinary one.
std::unique_ptr<TempTree> TempTreeInMemory();

// Makes `folder`/d/d/.../d, `depth` folders below `folder`, calling
// `fillLevel(handle, level)` for every new folder (level 1 is the first).
void MakeChain(const std::string& folder, int depth,
               const std::function<void(int handle, int level)>& fillLevel = {});

// Removes what MakeChain made below `folder` (files included) without ever
// resolving a long path: from the deepest level up, through "..".
void RemoveChain(const std::string& folder);

// Makes `count` empty files (or folders) named prefix0, prefix1, ... in `folder`.
void MakeEntries(const std::string& folder, int count, const std::string& prefix,
                 bool folders = false);

// Removes what MakeEntries made.
void RemoveEntries(const std::string& folder, int count, const std::string& prefix,
                   bool folders = false);

// The number of file handles the process has open.
int OpenHandleCount();
// The number of threads the process runs.
int ThreadCount();

}  // namespace quarn::test
