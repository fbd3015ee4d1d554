// Temporary files that an interrupt must not leave behind. Their paths are
// kept in fixed static storage that a signal handler can read; the handler
// removes them, then lets the signal end the process as it would have.
#pragma once

namespace zoka_images {

// At the start of the program: SIGINT, SIGTERM and SIGHUP remove the
// registered files and then end the process by the same signal (a signal
// the program was started ignoring, as a background job ignores SIGINT,
// stays ignored). SIGXFSZ is ignored, so that a write past the file-size
// limit fails with EFBIG and is reported instead of killing the process.
// Child processes inherit all of this across fork.
void InstallSignalCleanup();

// Registers a path for removal by the handler; false when it cannot be held
// (too long, or too many at once), and then the file must not be made.
bool RegisterTemporary(const char* path);
void ForgetTemporary(const char* path);

}  // namespace zoka_images
