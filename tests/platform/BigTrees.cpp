#include "tests/platform/BigTrees.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <stdexcept>
#include <vector>

namespace quarn::test {

namespace {

constexpr long kTmpfsMagic = 0x01021994;

int CountEntries(const char* folder) {
    DIR* dir = ::opendir(folder);
    if (dir == nullptr) {
        return -1;
    }
    int count = 0;
    while (struct dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.') {
            ++count;
        }
    }
    ::closedir(dir);
    return count;
}

int OpenFolder(int parent, const char* name) {
    int handle = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (handle < 0) {
        throw std::runtime_error(std::string("cannot open ") + name);
    }
    return handle;
}

// Removes every entry of the folder but the subfolder "d".
void EmptyLevel(int handle) {
    int copy = ::dup(handle);
    DIR* dir = ::fdopendir(copy);
    std::vector<std::string> names;
    while (struct dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != ".." && name != "d") {
            names.push_back(name);
        }
    }
    ::closedir(dir);
    for (const std::string& name : names) {
        if (::unlinkat(handle, name.c_str(), 0) != 0) {
            ::unlinkat(handle, name.c_str(), AT_REMOVEDIR);
        }
    }
}

}  // namespace

std::unique_ptr<TempTree> TempTreeInMemory() {
    struct ::statfs info;
    if (::statfs("/dev/shm", &info) == 0 && long(info.f_type) == kTmpfsMagic &&
        ::access("/dev/shm", W_OK) == 0) {
        ScopedEnv where{"QUARN_TEST_TMP", "/dev/shm"};
        return std::make_unique<TempTree>();
    }
    return std::make_unique<TempTree>();
}

void MakeChain(const std::string& folder, int depth,
               const std::function<void(int handle, int level)>& fillLevel) {
    int handle = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (handle < 0) {
        throw std::runtime_error("cannot open " + folder);
    }
    for (int level = 1; level <= depth; ++level) {
        if (::mkdirat(handle, "d", 0755) != 0) {
            ::close(handle);
            throw std::runtime_error("cannot make level " + std::to_string(level));
        }
        int next = OpenFolder(handle, "d");
        ::close(handle);
        handle = next;
        if (fillLevel) {
            fillLevel(handle, level);
        }
    }
    ::close(handle);
}

void RemoveChain(const std::string& folder) {
    int handle = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (handle < 0) {
        return;
    }
    int depth = 0;
    for (;;) {
        int next = ::openat(handle, "d", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            break;
        }
        ::close(handle);
        handle = next;
        ++depth;
    }
    for (; depth > 0; --depth) {
        EmptyLevel(handle);
        int parent = OpenFolder(handle, "..");
        ::close(handle);
        handle = parent;
        ::unlinkat(handle, "d", AT_REMOVEDIR);
    }
    ::close(handle);
}

void MakeEntries(const std::string& folder, int count, const std::string& prefix, bool folders) {
    int handle = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (handle < 0) {
        throw std::runtime_error("cannot open " + folder);
    }
    for (int i = 0; i < count; ++i) {
        std::string name = prefix + std::to_string(i);
        if (folders) {
            ::mkdirat(handle, name.c_str(), 0755);
        } else {
            int file = ::openat(handle, name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            if (file >= 0) {
                ::close(file);
            }
        }
    }
    ::close(handle);
}

void RemoveEntries(const std::string& folder, int count, const std::string& prefix, bool folders) {
    int handle = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int i = 0; handle >= 0 && i < count; ++i) {
        ::unlinkat(handle, (prefix + std::to_string(i)).c_str(), folders ? AT_REMOVEDIR : 0);
    }
    if (handle >= 0) {
        ::close(handle);
    }
}

int OpenHandleCount() {
    return CountEntries("/proc/self/fd") - 1;  // less the one that lists them
}

int ThreadCount() {
    return CountEntries("/proc/self/task");
}

}  // namespace quarn::test
