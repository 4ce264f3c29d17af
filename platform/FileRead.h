#pragma once
// Reading whole buffers: short reads and interrupted calls are retried.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace quarn {

// Reads up to `size` bytes from `fd`'s position into `buffer`; fewer only at
// the end of the file. -1 on an error (errno says which).
ssize_t ReadAll(int fd, void* buffer, size_t size);
// The same at `offset`, leaving the position alone.
ssize_t ReadAllAt(int fd, void* buffer, size_t size, uint64_t offset);

}  // namespace quarn
