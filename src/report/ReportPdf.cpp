#include "report/ReportPdf.h"

#include <QIODevice>
#include <QPainter>
#include <QPdfWriter>
#include <QtGlobal>

#include <qpdf/BufferInputSource.hh>
#include <qpdf/Pipeline.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFTokenizer.hh>
#include <qpdf/QPDFWriter.hh>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <system_error>
#include <vector>

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

struct Glyph {
    QPDFObjGen font;
    unsigned code;
};

// Collects the glyphs a page's content shows, in order. Qt writes BT and ET on
// lines of their own and shows each glyph with its own Tj; the overdraw of a
// synthetic bold sits in marked content with an empty ActualText and is not
// text, so it is left out.
class GlyphScanner : public Pipeline {
public:
    GlyphScanner(QPDFObjectHandle fonts, std::vector<Glyph>* pGlyphs, std::map<QPDFObjGen, QPDFObjectHandle>* pFonts)
        : Pipeline("glyph scanner", nullptr), m_fonts(fonts), m_pGlyphs(pGlyphs), m_pFontObjects(pFonts)
    {
    }

    void write(unsigned char const* data, size_t len) override
    {
        const char* p = reinterpret_cast<const char*>(data);
        const char* end = p + len;
        while (p < end) {
            const char* eol = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
            const char* stop = eol ? eol : end;
            // Outside text objects only "BT" matters: longer lines need not be kept.
            if (m_bInText || m_line.size() + static_cast<size_t>(stop - p) <= 3)
                m_line.append(p, stop);
            else
                m_bLong = true;
            if (!eol)
                break;
            EndLine();
            p = eol + 1;
        }
    }
    void finish() override
    {
        EndLine();
        m_bInText = false;
        m_text.clear();
    }
    bool Understood() const { return m_bUnderstood; }

private:
    void EndLine()
    {
        if (!m_line.empty() && m_line.back() == '\r')
            m_line.pop_back();
        if (!m_bInText) {
            if (!m_bLong && m_line == "BT") {
                m_bInText = true;
                m_text.clear();
            }
        } else if (m_line == "ET") {
            TextObject();
            m_bInText = false;
        } else {
            m_text += m_line;
            m_text += '\n';
        }
        m_line.clear();
        m_bLong = false;
    }

    void TextObject()
    {
        auto input = std::make_shared<BufferInputSource>("text object", m_text);
        QPDFTokenizer tokenizer;
        tokenizer.allowEOF();
        std::vector<QPDFTokenizer::Token> operands;
        for (;;) {
            const QPDFTokenizer::Token t = tokenizer.readToken(input, "text object", true);
            if (t.getType() == QPDFTokenizer::tt_eof || t.getType() == QPDFTokenizer::tt_bad)
                break;
            if (t.getType() != QPDFTokenizer::tt_word) {
                operands.push_back(t);
                continue;
            }
            const std::string& op = t.getValue();
            if (op == "Tf" && operands.size() >= 2 && operands[operands.size() - 2].getType() == QPDFTokenizer::tt_name) {
                m_font = m_fonts.isDictionary() ? m_fonts.getKey(operands[operands.size() - 2].getValue())
                                                 : QPDFObjectHandle::newNull();
            } else if (op == "Tj" || op == "TJ" || op == "'" || op == "\"") {
                if (!Hidden())
                    for (const QPDFTokenizer::Token& s : operands)
                        if (s.getType() == QPDFTokenizer::tt_string)
                            Show(s.getValue());
            } else if (op == "BDC" || op == "BMC") {
                bool silent = false;
                for (size_t i = 0; i + 1 < operands.size(); ++i)
                    if (operands[i].getType() == QPDFTokenizer::tt_name && operands[i].getValue() == "/ActualText" &&
                        operands[i + 1].getType() == QPDFTokenizer::tt_string && operands[i + 1].getValue().empty())
                        silent = true;
                m_marks.push_back(silent);
            } else if (op == "EMC") {
                if (!m_marks.empty())
                    m_marks.pop_back();
            }
            operands.clear();
        }
    }

    bool Hidden() const
    {
        for (bool silent : m_marks)
            if (silent)
                return true;
        return false;
    }

    // Two-byte codes of an Identity-H font; any other font cannot be mapped.
    void Show(const std::string& bytes)
    {
        if (!m_font.isDictionary() || !m_font.getKey("/Encoding").isNameAndEquals("/Identity-H") ||
            bytes.size() % 2 != 0) {
            m_bUnderstood = false;
            return;
        }
        const QPDFObjGen id = m_font.getObjGen();
        (*m_pFontObjects)[id] = m_font;
        for (size_t i = 0; i < bytes.size(); i += 2)
            m_pGlyphs->push_back({id, static_cast<unsigned>(static_cast<unsigned char>(bytes[i]) << 8 |
                                                            static_cast<unsigned char>(bytes[i + 1]))});
    }

    QPDFObjectHandle m_fonts;
    std::vector<Glyph>* m_pGlyphs;
    std::map<QPDFObjGen, QPDFObjectHandle>* m_pFontObjects;
    QPDFObjectHandle m_font = QPDFObjectHandle::newNull();
    std::vector<bool> m_marks;
    std::string m_line, m_text;
    bool m_bInText = false;
    bool m_bLong = false;
    bool m_bUnderstood = true;
};

void AppendUtf16Hex(std::string* out, char32_t c)
{
    char buf[16];
    if (c > 0xFFFF) {
        c -= 0x10000;
        std::snprintf(buf, sizeof buf, "%04X%04X", 0xD800 + (c >> 10), 0xDC00 + (c & 0x3FF));
    } else {
        std::snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(c));
    }
    *out += buf;
}

std::string ToUnicodeMap(const std::map<unsigned, char32_t>& codes)
{
    std::string s =
        "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
        "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
        "/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
        "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n";
    auto it = codes.begin();
    while (it != codes.end()) {
        // At most 100 entries to a section.
        const size_t n = std::min<size_t>(100, static_cast<size_t>(std::distance(it, codes.end())));
        s += std::to_string(n) + " beginbfchar\n";
        for (size_t i = 0; i < n; ++i, ++it) {
            char code[8];
            std::snprintf(code, sizeof code, "%04X", it->first);
            s += '<';
            s += code;
            s += "> <";
            AppendUtf16Hex(&s, it->second);
            s += ">\n";
        }
        s += "endbfchar\n";
    }
    s += "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n";
    return s;
}

// Gives every font of the document a text map built from the texts the pages
// drew: the glyphs shown, in order, are those texts' characters, one each.
// Leaves the maps alone and says why when the two do not line up.
bool RewriteTextMaps(QPDF& pdf, const QStringList& texts, std::string* pWhy)
{
    std::vector<Glyph> glyphs;
    std::map<QPDFObjGen, QPDFObjectHandle> fonts;
    for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(pdf).getAllPages()) {
        QPDFObjectHandle resources = page.getAttribute("/Resources", false);
        GlyphScanner scanner(resources.isDictionary() ? resources.getKey("/Font") : QPDFObjectHandle::newNull(),
                             &glyphs, &fonts);
        page.pipeContents(&scanner);
        if (!scanner.Understood()) {
            *pWhy = "a font that is not Identity-H encoded";
            return false;
        }
    }
    std::vector<char32_t> chars;
    for (const QString& text : texts)
        for (char32_t c : text.toUcs4())
            chars.push_back(c);
    if (chars.size() != glyphs.size()) {
        *pWhy = std::to_string(glyphs.size()) + " glyphs for " + std::to_string(chars.size()) + " characters";
        return false;
    }
    std::map<QPDFObjGen, std::map<unsigned, char32_t>> maps;
    for (size_t i = 0; i < glyphs.size(); ++i) {
        // One glyph drawn for two characters keeps the first.
        maps[glyphs[i].font].emplace(glyphs[i].code, chars[i]);
    }
    for (auto& [id, codes] : maps)
        fonts[id].replaceKey("/ToUnicode", pdf.newStream(ToUnicodeMap(codes)));
    return true;
}

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

// Lets the report printer find the report it draws into.
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

void CReportPdf::NoteText(QPainter* pDC, const QString& text)
{
    // A painter without a pen draws no text.
    if (!pDC || pDC->pen().style() == Qt::NoPen)
        return;
    if (auto* writer = dynamic_cast<PdfWriter*>(pDC->device()))
        writer->m_pOwner->m_texts.append(text);
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
        std::string why;
        if (!RewriteTextMaps(pdf, m_texts, &why))
            qWarning("report text cannot be searched: %s", why.c_str());
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
