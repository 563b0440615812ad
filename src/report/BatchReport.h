// Headless report rendering for the command-line analyser.
#pragma once

#include <string>

class CEcgDocument;

// Renders every report page of an analysed document into a PDF file, which
// is replaced only once the whole report is on disk; a path naming the
// recording itself is refused. pageSize is a page-size name such as "A4" or
// "Letter". Returns false and sets *pError (with the path and the system's
// reason for a failed write) on failure.
bool WriteReportPdf(CEcgDocument& doc, const std::string& outPath, const std::string& pageSize,
                    std::string* pError);
