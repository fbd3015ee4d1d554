// A file that appears whole or not at all. It is written under a random
// hidden name in the final file's folder (so the rename stays on one file
// system), checked, synced to disk, and only then renamed over the final
// path; the folder is synced after the rename. An existing file at the
// final path is replaced only by a complete new one.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>

namespace zoka_images {

class OutputFile {
public:
    // Makes the temporary file ".zoka-", twelve random letters and digits
    // and suffix: a short name whatever the final name's length, made
    // exclusively (never through an existing file or symbolic link), with
    // the permissions a new file gets (0666 less the umask), and registered
    // for removal on a signal. Null with error set when it cannot be made.
    static std::unique_ptr<OutputFile> Create(const std::string& path, const std::string& suffix,
                                              std::string& error);
    // Removes the temporary file unless it was published.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    const std::string& TemporaryPath() const { return temporary_; }

    // Writes every byte at offset. After the first failure nothing more is
    // written, and Publish reports that failure.
    void WriteAt(const void* data, size_t size, int64_t offset);
    size_t ReadAt(void* data, size_t size, int64_t offset) const;
    bool Failed() const { return failure_ != 0; }

    // Checks the file's size (not empty, and exactly `size` bytes unless
    // size < 0, for a file another library wrote by name), syncs it,
    // closes it, renames it over the final path and syncs the folder.
    // False with error set when any step fails.
    bool Publish(int64_t size, std::string& error);

private:
    OutputFile(std::string path, std::string temporary, int descriptor);
    std::string Failure(const std::string& why) const;

    std::string path_;
    std::string temporary_;
    int descriptor_ = -1;
    int failure_ = 0;  // errno of the first failed write
    bool published_ = false;
};

// Whether two paths name one existing file (through a link or another name
// as well); the first is looked up first, so a path that usually does not
// exist (an output) costs one lookup.
bool SameFile(const std::string& a, const std::string& b);

}  // namespace zoka_images
