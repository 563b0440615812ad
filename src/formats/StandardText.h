// Text helpers shared by opening a standard recording and its decode.
#pragma once

#include <cstddef>
#include <string>

namespace standard_text {

std::string Trimmed(const char* text);
std::string Upper(std::string s);
std::string FolderOf(const std::string& path);
// At most limit bytes of path, fewer when the file is shorter.
std::string ReadText(const std::string& path, size_t limit);

}  // namespace standard_text
