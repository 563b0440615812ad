// A report PDF that reaches its path whole or not at all, with text that can
// be searched and copied. Qt renders the pages into an unnamed scratch file in
// the target's folder; Commit() copies it to the target through COutputFile,
// with each font's text map rebuilt from the texts the pages drew. (Qt maps a
// glyph back to the lowest code point that shares it, so 心 came out as the
// radical U+2F3C, and not at all when the font substituted it, as Noto CJK
// does for digits next to Latin letters.)
#pragma once

#include <QStringList>

#include <memory>
#include <string>

#include "recording/OutputFile.h"

class QPainter;
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

    // Keeps a text drawn on a report page, in drawing order, when pDC
    // paints into a report PDF; elsewhere does nothing.
    static void NoteText(QPainter* pDC, const QString& text);

private:
    class Device;
    class PdfWriter;

    bool Fail(const std::string& reason);

    std::string m_strPath;
    COutputFile m_scratch;
    std::unique_ptr<Device> m_pDevice;
    std::unique_ptr<PdfWriter> m_pWriter;
    QStringList m_texts;
    std::string m_strError;
};
