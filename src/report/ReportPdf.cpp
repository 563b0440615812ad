#include "report/ReportPdf.h"

#include <QIODevice>
#include <QPdfWriter>

#include <qpdf/Pipeline.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include <cerrno>
#include <cstdio>
#include <system_error>

#include <unistd.h>

namespace {

// QPDFWriter's output, into a COutputFile. A failed write is kept there (and
// ends all later ones) rather than thrown: qpdf finishes pipelines in
// destructors, where an exception would end the program.
class OutputPipeline : public Pipeline {
public:
    explicit OutputPipeline(COutputFile* pFile) : Pipeline("report output", nullptr), m_pFile(pFile) {}
    void write(unsigned char const* data, size_t len) override { m_pFile->Write(data, len); }
    void finish() override { m_pFile->Flush(); }

private:
    COutputFile* m_pFile;
};

}  // namespace

// The scratch file as a device for QPdfWriter; the first failure ends writing.
class CReportPdf::Device : public QIODevice {
public:
    explicit Device(COutputFile* pFile) : m_pFile(pFile) {}
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 len) override
    {
        return m_pFile->Write(data, static_cast<size_t>(len)) ? len : -1;
    }

private:
    COutputFile* m_pFile;
};

class CReportPdf::PdfWriter : public QPdfWriter {
public:
    PdfWriter(QIODevice* device, CReportPdf* pOwner) : QPdfWriter(device), m_pOwner(pOwner) {}
    CReportPdf* m_pOwner;
};

CReportPdf::CReportPdf(std::string path) : m_strPath(std::move(path)) {}

CReportPdf::~CReportPdf()
{
    // The writer goes before the device it writes to.
    m_pWriter.reset();
    m_pDevice.reset();
}

bool CReportPdf::Fail(const std::string& reason)
{
    if (m_strError.empty())
        m_strError = reason;
    m_scratch.Discard();
    return false;
}

std::string CReportPdf::ErrorText() const
{
    if (!m_strError.empty())
        return m_strError;
    if (m_scratch.Failed())
        return m_scratch.ErrorText();
    return std::system_category().message(EIO);
}

bool CReportPdf::Open()
{
    if (!m_scratch.OpenScratch(m_strPath))
        return Fail(m_scratch.ErrorText());
    m_pDevice = std::make_unique<Device>(&m_scratch);
    m_pDevice->open(QIODevice::WriteOnly);
    m_pWriter = std::make_unique<PdfWriter>(m_pDevice.get(), this);
    return true;
}

QPdfWriter* CReportPdf::Writer() const
{
    return m_pWriter.get();
}

bool CReportPdf::Commit()
{
    if (!m_pWriter)
        return Fail(ErrorText());
    if (!m_scratch.Flush())
        return Fail(m_scratch.ErrorText());
    // qpdf reads the scratch file through a descriptor of its own.
    const int fd = ::dup(m_scratch.Descriptor());
    FILE* in = fd >= 0 ? ::fdopen(fd, "rb") : nullptr;
    if (!in) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        return Fail(std::system_category().message(error));
    }
    COutputFile out;
    try {
        QPDF pdf;
        pdf.setSuppressWarnings(true);
        pdf.setAttemptRecovery(false);
        pdf.processFile(m_strPath.c_str(), in, true);
        if (!out.Open(m_strPath))
            return Fail(out.ErrorText());
        OutputPipeline pipeline(&out);
        QPDFWriter writer(pdf);
        writer.setOutputPipeline(&pipeline);
        writer.write();
        if (out.Failed())
            return Fail(out.ErrorText());
        if (pdf.anyWarnings())
            return Fail("the rendered pages are damaged");
    } catch (const std::exception& e) {
        if (out.Failed())
            return Fail(out.ErrorText());
        return Fail(std::string("the rendered pages are damaged: ") + e.what());
    }
    if (!out.Commit())
        return Fail(out.ErrorText());
    m_scratch.Discard();
    return true;
}
