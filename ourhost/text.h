// The module's texts are in the Windows ANSI code page; terminals and files
// of this tool speak UTF-8.
#pragma once

#include <string>

namespace ourhost {

std::string Utf8FromAnsi(const std::string& text);

}  // namespace ourhost
