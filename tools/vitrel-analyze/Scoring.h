// --reference: the reference beats and the comparison line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "BeatMatch.h"

void PrintMatch(const std::string& path, const BeatMatchResult& m, bool toStderr);
