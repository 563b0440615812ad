// The print loop behind the print, direct-print and print-preview commands.
// It asks the view for the page range, shows Qt's dialogs and lets the view
// draw every page through CEcgReportPrinter.
#pragma once

#include <QRectF>

class QPainter;
class QPrinter;
class QWidget;
class CVitrelView;

// What one page of a print job knows about the job.
struct CPrintInfo {
    int m_nMinPage = 1;
    int m_nMaxPage = 1;
    int m_nCurPage = 1;
    int m_nNumPreviewPages = 1;
    bool m_bPreview = false;
    bool m_bDirect = false;
    // Printable area in millimetres (whole millimetres, truncated).
    int m_nPrintableWidthMM = 0;
    int m_nPrintableHeightMM = 0;
    // Device dots per millimetre of the target.
    double m_fDotsPerMM = 0;
};

enum class PrintMode { Dialog, Direct, Preview };

// Runs a print job for the view: Dialog shows the print dialog (57607),
// Direct prints to the default printer (57608), Preview opens the preview (57609).
void RunPrintJob(CVitrelView* pView, PrintMode mode);
// Printer setup (57606): page-setup dialog on the application's shared printer.
void RunPrinterSetup(QWidget* parent);
// The printer shared by all print commands of the application.
QPrinter* SharedPrinter();
