// The print, direct-print, print-preview and printer-setup commands: Qt's
// dialogs around the report renderer, for the document of a waveform view.
#pragma once

class QCheckBox;
class QDialog;
class QPrinter;
class QWidget;
class CVitrelView;
struct ReportOptions;

enum class PrintMode { Dialog, Direct, Preview };

// Runs a print job for the view: Dialog shows the print dialog (ID_FILE_PRINT),
// Direct prints to the default printer (ID_FILE_PRINT_DIRECT), Preview opens
// the preview (ID_FILE_PRINT_PREVIEW).
void RunPrintJob(CVitrelView* pView, PrintMode mode);
// Printer setup (ID_FILE_PRINT_SETUP): page-setup dialog on the application's shared printer.
void RunPrinterSetup(QWidget* parent);
// The printer shared by all print commands of the application.
QPrinter* SharedPrinter();

// Whether the report of a long recording ends with the Holter pages (the
// page-setup checkbox, remembered; on unless turned off).
bool ReportHolterPages();
void SetReportHolterPages(bool on);
// The report's options for the view: the Holter pages as set, the beat
// classes on the strips as the view shows them.
ReportOptions ReportOptionsFor(const CVitrelView* pView);
// The page-setup dialog's checkbox of the Holter pages, set from the setting.
QCheckBox* AddHolterPagesOption(QDialog* dlg);
