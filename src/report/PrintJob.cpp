#include "report/PrintJob.h"

#include <QPrinter>

void RunPrintJob(CVitrelView*, PrintMode) {}

void RunPrinterSetup(QWidget*) {}

QPrinter* SharedPrinter()
{
    static QPrinter printer(QPrinter::HighResolution);
    return &printer;
}
