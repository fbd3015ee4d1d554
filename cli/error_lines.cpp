#include "cli/error_lines.h"

#include <iostream>

namespace zoka_cli {

namespace {

thread_local std::ostream* gErrors = nullptr;

}  // namespace

std::ostream& ErrorStream() { return gErrors != nullptr ? *gErrors : std::cerr; }

ErrorCapture::ErrorCapture() : previous_(gErrors) { gErrors = &lines_; }

ErrorCapture::~ErrorCapture() { gErrors = previous_; }

std::string ErrorCapture::LastLine() const {
    std::string text = lines_.str();
    while (!text.empty() && text.back() == '\n') text.pop_back();
    text.erase(0, text.find_last_of('\n') + 1);
    const std::string prefix = "zoka: ";
    if (text.compare(0, prefix.size(), prefix) == 0) text.erase(0, prefix.size());
    return text;
}

}  // namespace zoka_cli
