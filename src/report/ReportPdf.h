// A report PDF that reaches its path whole or not at all. Qt renders the
// pages into an unnamed scratch file in the target's folder; Commit() reads it
// back with qpdf and writes it to the target through COutputFile.
#pragma once

#include <memory>
#include <string>

#include "report/OutputFile.h"

class QPdfWriter;

class CReportPdf {
public:
    explicit CReportPdf(std::string path);
    ~CReportPdf();  // discards an unfinished report
    CReportPdf(const CReportPdf&) = delete;
    CReportPdf& operator=(const CReportPdf&) = delete;

    // Creates the scratch file; afterwards Writer() renders into it.
    bool Open();
    QPdfWriter* Writer() const;
    // After the painter has ended: writes the target and replaces the path.
    bool Commit();
    // The reason of the failure, in the system's words where it has them.
    std::string ErrorText() const;

private:
    class Device;
    class PdfWriter;

    bool Fail(const std::string& reason);

    std::string m_strPath;
    COutputFile m_scratch;
    std::unique_ptr<Device> m_pDevice;
    std::unique_ptr<PdfWriter> m_pWriter;
    std::string m_strError;
};
