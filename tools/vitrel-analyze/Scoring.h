// --reference: the reference beats and the comparison line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "BeatMatch.h"

// Lines "index,code", a WFDB annotation file or a standard file's annotations.
bool ReadReference(const std::string& path, std::vector<int64_t>* out, std::string* error);
void PrintMatch(const std::string& path, const BeatMatchResult& m, bool toStderr);
