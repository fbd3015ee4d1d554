// Where the requests' error lines go: "zoka: ..." on standard error for the
// commands, or, while an ErrorCapture lives on the calling thread, into it,
// so that a client which is no command (the Python module) can raise them.
#pragma once

#include <ostream>
#include <sstream>
#include <string>

namespace zoka_cli {

// This thread's stream for error lines: standard error, or the capture's.
std::ostream& ErrorStream();

// Collects this thread's error lines for its lifetime.
class ErrorCapture {
public:
    ErrorCapture();
    ~ErrorCapture();
    ErrorCapture(const ErrorCapture&) = delete;
    ErrorCapture& operator=(const ErrorCapture&) = delete;

    // The last line written, without "zoka: " and its line break; empty
    // when none was.
    std::string LastLine() const;

private:
    std::ostringstream lines_;
    std::ostream* previous_;
};

}  // namespace zoka_cli
