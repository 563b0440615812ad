// The print, direct-print, print-preview and printer-setup commands: Qt's
// dialogs around the report renderer, for the document of a waveform view.
#pragma once

class QPrinter;
class QWidget;
class CVitrelView;

enum class PrintMode { Dialog, Direct, Preview };

// Runs a print job for the view: Dialog shows the print dialog (57607),
// Direct prints to the default printer (57608), Preview opens the preview (57609).
void RunPrintJob(CVitrelView* pView, PrintMode mode);
// Printer setup (57606): page-setup dialog on the application's shared printer.
void RunPrinterSetup(QWidget* parent);
// The printer shared by all print commands of the application.
QPrinter* SharedPrinter();
