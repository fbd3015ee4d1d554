#include "images/output_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "images/signal_cleanup.h"

namespace zoka_images {

namespace {

constexpr int kNameAttempts = 100;

// The folder part of path with its slash ("" for a bare name).
std::string FolderPrefix(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

bool RandomName(std::string& name) {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char random[12];
    if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) return false;
    name = ".zoka-";
    for (const unsigned char r : random) name += kLetters[r % (sizeof kLetters - 1)];
    return true;
}

// A failed fsync of a folder on a file system that cannot sync folders
// (EINVAL) is no loss: the rename is as durable as that file system makes it.
bool SyncFolder(const std::string& folder) {
    const int descriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) return false;
    const bool synced = fsync(descriptor) == 0 || errno == EINVAL;
    const int saved = errno;
    close(descriptor);
    errno = saved;
    return synced;
}

}  // namespace

OutputFile::OutputFile(std::string path, std::string temporary, int descriptor)
    : path_(std::move(path)), temporary_(std::move(temporary)), descriptor_(descriptor) {}

std::unique_ptr<OutputFile> OutputFile::Create(const std::string& path, const std::string& suffix,
                                               std::string& error) {
    const std::string folder = FolderPrefix(path);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::string name;
        if (!RandomName(name)) break;
        const std::string temporary = folder + name + suffix;
        // Registered before it exists, so no signal can come between its
        // making and its registration.
        if (!RegisterTemporary(temporary.c_str())) {
            error = "cannot write " + path + ": the path is too long";
            return nullptr;
        }
        const int descriptor = open(temporary.c_str(),
                                    O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (descriptor >= 0) {
            return std::unique_ptr<OutputFile>(new OutputFile(path, temporary, descriptor));
        }
        const int why = errno;
        ForgetTemporary(temporary.c_str());
        if (why != EEXIST) {
            error = "cannot write " + path + ": " + std::strerror(why);
            return nullptr;
        }
    }
    error = "cannot write " + path + ": cannot make a temporary file beside it";
    return nullptr;
}

OutputFile::~OutputFile() {
    if (descriptor_ >= 0) close(descriptor_);
    if (!published_) {
        unlink(temporary_.c_str());
        ForgetTemporary(temporary_.c_str());
    }
}

void OutputFile::WriteAt(const void* data, size_t size, int64_t offset) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0 && failure_ == 0) {
        const ssize_t written = pwrite(descriptor_, bytes, size, offset);
        if (written <= 0) {
            // Nothing written without an error would repeat forever: no room.
            if (written == 0 || errno != EINTR) failure_ = written == 0 ? ENOSPC : errno;
            continue;
        }
        bytes += written;
        size -= static_cast<size_t>(written);
        offset += written;
    }
}

size_t OutputFile::ReadAt(void* data, size_t size, int64_t offset) const {
    const ssize_t read = pread(descriptor_, data, size, offset);
    return read < 0 ? 0 : static_cast<size_t>(read);
}

std::string OutputFile::Failure(const std::string& why) const {
    return "cannot write " + path_ + ": " + why;
}

bool OutputFile::Publish(int64_t size, std::string& error) {
    if (failure_ != 0) {
        error = Failure(std::strerror(failure_));
        return false;
    }
    struct stat written {};
    if (fstat(descriptor_, &written) != 0 || written.st_size == 0 || (size >= 0 && written.st_size != size)) {
        error = Failure("the file came out incomplete");
        return false;
    }
    const bool synced = fsync(descriptor_) == 0;
    const int syncError = errno;
    const bool closed = close(descriptor_) == 0;
    const int closeError = errno;
    descriptor_ = -1;
    if (!synced || !closed) {
        error = Failure(std::strerror(synced ? closeError : syncError));
        return false;
    }
    if (std::rename(temporary_.c_str(), path_.c_str()) != 0) {
        error = Failure(std::strerror(errno));
        return false;
    }
    published_ = true;
    ForgetTemporary(temporary_.c_str());
    const std::string folder = FolderPrefix(path_);
    if (!SyncFolder(folder.empty() ? "." : folder)) {
        error = Failure(std::string("the folder could not be synced: ") + std::strerror(errno));
        return false;
    }
    return true;
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat first {}, second {};
    return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

}  // namespace zoka_images
