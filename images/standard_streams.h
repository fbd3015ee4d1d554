// Standard input and output as image files: "-" in place of a file name.
// zoka reads and writes images by name (libpng, the image library), so
// standard input is first copied into a temporary file named for the format
// its first bytes show, and an image for standard output is written whole
// into a temporary file and only then copied out: a failed render sends
// nothing.
#pragma once

#include <memory>
#include <string>

#include "images/output_file.h"

namespace zoka_images {

inline bool IsStandardStream(const std::string& path) { return path == "-"; }

// The extension of the format whose file starts with these bytes ("png",
// "jpg", "tif", "exr", ...), or empty when no format zoka reads starts so.
std::string FormatOfBytes(const std::string& head);

class StandardInput {
public:
    // Takes all of standard input. Null with error set when it is a
    // terminal, empty, of no format zoka reads, or cannot be copied.
    static std::unique_ptr<StandardInput> Take(std::string& error);
    // The copy, to read as an image file; removed with this object.
    const std::string& Path() const { return file_->TemporaryPath(); }
    ~StandardInput();
    StandardInput(const StandardInput&) = delete;
    StandardInput& operator=(const StandardInput&) = delete;

private:
    explicit StandardInput(std::unique_ptr<OutputFile> file);
    std::unique_ptr<OutputFile> file_;
};

class StandardOutput {
public:
    // A place to write an image of the format (an extension zoka writes,
    // "png", "exr", ...). Null with error set when standard output is a
    // terminal (binary would garble it), the format is unknown, or the
    // temporary file cannot be made in TemporaryFolder().
    static std::unique_ptr<StandardOutput> Create(const std::string& format, std::string& error);
    // Where the image is written; removed with this object.
    const std::string& Path() const { return file_->TemporaryPath(); }
    // Copies the written image to standard output; false with error set
    // when it cannot (a closed pipe is an error, not a signal).
    bool Send(std::string& error) const;
    ~StandardOutput();
    StandardOutput(const StandardOutput&) = delete;
    StandardOutput& operator=(const StandardOutput&) = delete;

private:
    explicit StandardOutput(std::unique_ptr<OutputFile> file);
    std::unique_ptr<OutputFile> file_;
};

// At the start of the program: each of standard input, output and error
// that the caller left closed is held by /dev/null opened the other way
// round, so that no file zoka opens takes its number (an image written
// into it, or messages into an image), and its use fails as it would on a
// closed stream: reading standard input or writing standard output gives
// EBADF. False when /dev/null cannot be opened.
bool HoldClosedStandardStreams();

// The folder temporary files go in: $TMPDIR, else /tmp.
std::string TemporaryFolder();

// The name ("PNG") of the format (an extension zoka writes) for standard
// output; empty with error set when the format is unknown or standard output
// is a terminal (binary would garble it). From then on a reader that goes
// away makes writes fail instead of ending the process.
std::string FormatForStandardOutput(const std::string& format, std::string& error);

// Copies a written file to standard output; false with error set when it
// cannot (a closed pipe is an error, not a signal).
bool CopyToStandardOutput(const std::string& path, std::string& error);

// text with the temporary files' paths of the streams in use named
// "standard input" and "standard output", for messages.
std::string NameStandardStreams(std::string text);

}  // namespace zoka_images
