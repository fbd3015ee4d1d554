// Whole reads and writes on file descriptors (pipes, standard streams),
// retried through short transfers and interrupted calls.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace zoka_images {

// Reads until size bytes or the end: the count read, or -1 on an error.
inline ssize_t ReadUpTo(int descriptor, char* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = read(descriptor, data + done, size - done);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

// Exactly size bytes, or false (an error, or the end came first).
inline bool ReadExactly(int descriptor, char* data, size_t size) {
    return ReadUpTo(descriptor, data, size) == static_cast<ssize_t>(size);
}

inline bool WriteAll(int descriptor, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(descriptor, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace zoka_images
