// The one mapping from what went wrong to what the user is told: file errors,
// impossible header dates and memory running out, for the window and the
// command-line tool alike.
#pragma once

#include <exception>
#include <string>

// The message for e, raised while opening or reading the recording at path
// (a file error names the path it carries itself).
std::string ErrorMessageFor(const std::exception& e, const std::string& path);
