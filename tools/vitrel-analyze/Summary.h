// The readable summary of one file.
#pragma once

#include <string>

#include "analysis/EcgDocument.h"

// results is null when the run did not complete.
void PrintSummary(const std::string& path, const CEcgDocument& doc, const AnalysisResults* results);
