// Headless report rendering for the command-line analyser.
#pragma once

#include <string>

class CEcgDocument;
class QGuiApplication;

// Renders every report page of an analysed document into a PDF file, which
// is replaced only once the whole report is on disk; a path naming the
// recording itself is refused. pageSize is a page-size name such as "A4" or
// "Letter". Returns false and sets *pError (with the path and the system's
// reason for a failed write) on failure. holterPages adds the Holter pages
// and the beat classes on the strips; without it the report is the recorder's.
bool WriteReportPdf(CEcgDocument& doc, const std::string& outPath, const std::string& pageSize,
                    std::string* pError, bool holterPages = false);

// Whether WriteReportPdf knows the page-size name, so a caller can refuse a
// wrong one before a long analysis rather than after it.
bool IsKnownPageSize(const std::string& pageSize);

// The GUI application that fonts and painting need, for a command-line caller
// that has none (on the offscreen platform when there is no display). Made
// before the first report and ended before the program's static teardown
// (WriteReportPdf would otherwise make one that is never destroyed); does
// nothing when an application object exists already.
class CReportApplication {
public:
    CReportApplication();
    ~CReportApplication();
    CReportApplication(const CReportApplication&) = delete;
    CReportApplication& operator=(const CReportApplication&) = delete;

private:
    QGuiApplication* m_pApp = nullptr;
};
