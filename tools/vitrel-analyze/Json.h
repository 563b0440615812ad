// The --json line of one file.
#pragma once

#include <string>

#include "analysis/EcgDocument.h"

// results is null when the run did not complete: the lists are then empty.
void PrintJson(const std::string& path, const CEcgDocument& doc, const AnalysisResults* results);
