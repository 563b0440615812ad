// The one road of every report page: printing, the print preview, printing
// to a PDF file and vitrel-analyze --report all draw through here, each page
// by a CEcgReportPrinter in true metric units.
#pragma once

#include <string>

#include "report/EcgReportPrinter.h"

class CEcgDocument;
class QPageLayout;
class QPagedPaintDevice;
class QPainter;
class QString;

// The gain the waveform view prints with: 50 pixels per millivolt at zoom 1.0,
// 10 mm/mV on paper.
constexpr int REPORT_GAIN = 50;

// Draws pages from..to (counted from 1) of doc's report with painter, which
// paints on device, each over the device's printable area. preview marks the
// picture a print preview records; options add pages beyond the recorder's
// (counted as GetPageCount(&doc, options) counts them). Raises what reading
// the recording raises; the painter stays open.
void RenderReportPages(CEcgDocument& doc, QPagedPaintDevice& device, QPainter& painter, int from, int to,
                       bool preview = false, int gain = REPORT_GAIN, const ReportOptions& options = {});

// Why a report PDF was not written.
struct ReportFailure {
    bool bCannotWrite = false;   // the file: strText is the system's reason
    std::string strText;         // else a page could not be drawn: its error message
};

// Writes pages from..to of doc's report as the PDF file path, whole or not at
// all, with searchable text, on the paper of layout (a PDF page is printable
// to its edges, so the margins are left out) at resolution dots per inch (0:
// the writer's own). False and *pFailure filled when it was not written.
bool WriteReportPages(CEcgDocument& doc, const std::string& path, const QPageLayout& layout, int resolution,
                      const QString& title, const QString& creator, int from, int to, ReportFailure* pFailure,
                      int gain = REPORT_GAIN, const ReportOptions& options = {});
