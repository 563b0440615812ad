// Draws one page of the printed ECG report in true metric units: a summary
// page for a short recording, an event report for a long one.
#pragma once

#include <QFont>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <cstdint>
#include <memory>
#include <string>

class CEcgDocument;
struct AnalysisResults;
class QPainter;
struct RecordingHeader;

// What a report holds beyond its own pages; all off, it is the recorder's report.
struct ReportOptions {
    bool holterPages = false;   // a long recording's Holter summary and event strips after its pages
    bool beatClasses = false;   // the event strips mark each beat with its class
};

// What one page of a report knows about the job it belongs to.
struct CPrintInfo {
    int m_nMinPage = 1;
    int m_nMaxPage = 1;        // the page count
    int m_nCurPage = 1;
    bool m_bPreview = false;   // drawn into the picture a print preview records
    // Printable area in millimetres (whole millimetres, truncated).
    int m_nPrintableWidthMM = 0;
    int m_nPrintableHeightMM = 0;
    // Device dots per millimetre of the target.
    double m_fDotsPerMM = 0;
    ReportOptions m_options;
};

class CEcgReportPrinter {
public:
    // Lives for one page; nothing is owned.
    CEcgReportPrinter(CEcgDocument* pDoc, QPainter* pDC, CPrintInfo* pInfo, int nGain);

    // Draws the page pInfo->m_nCurPage for the document's kind.
    void PrintPage();
    void PrintSummaryPage();
    void PrintEventPage();
    std::shared_ptr<const AnalysisResults> BeginHolterPage();
    void PrintHolterSummaryPage();
    void PrintHolterStripPage();

    // Pages of the report: 1 + ceil(abnormal beats / 5) for a long recording, else 1.
    static int GetPageCount(const CEcgDocument* pDoc);
    // The same with the pages options add: a summary page, and a page of
    // strips when there is a run, a pause or AF.
    static int GetPageCount(const CEcgDocument* pDoc, const ReportOptions& options);
    static int GetHolterPageCount(const CEcgDocument* pDoc, const ReportOptions& options);

    // Strip length L and strip area height G (mm) of the summary page for a
    // printable area of W x H mm, raised to 25 and 40 where the area is too small.
    static void GetSummaryGeometry(int widthMM, int heightMM, int* pStripMM, int* pAreaMM);

    // The analysis values (one text, lines separated by "\r\n") and the basic
    // information of the summary page for a header.
    static std::string FormatResultValues(const RecordingHeader& header);
    static std::string FormatBasicInfo(const RecordingHeader& header, uint64_t sampleCount);
    // Verdict mark of a value against a range; bounds are normal.
    static const char* VerdictMark(double value, double low, double high);

    // Printable area in mm (whole millimetres) of this page's target.
    int GetPrintableWidthMM() const { return m_nWidthMM; }
    int GetPrintableHeightMM() const { return m_nHeightMM; }

private:
    // Logical units are 0.1 mm with y upward; the page origin is the top-left
    // corner of the printable area.
    QPointF Map(double lx, double ly) const { return QPointF(lx * m_fDotsX, -ly * m_fDotsY); }
    // A rectangle given in millimetres, y downward.
    QRectF RectMM(double left, double top, double right, double bottom) const;

    QFont MakeFont(bool bHeiti, double heightMM, bool bBold, bool bItalic = false) const;
    enum HAlign { AlignLeft, AlignCenter, AlignRight };
    // Lines (split at "\r\n") one cell height apart from the top of rc, or a
    // single line centred vertically when bVCenter is set.
    void DrawTextBlock(const QRectF& rc, const QString& text, HAlign align, bool bVCenter = false);
    void DrawFrame(const QRectF& rc);
    void DrawLineMM(double x1, double y1, double x2, double y2);
    // Minor grid dots at (left + i, top + j) mm, 0 < i < countX, 0 < j < countY,
    // neither a multiple of 5.
    void DrawDots(double leftMM, double topMM, int countX, int countY);
    void DrawSummaryStrips(int stripMM);
    void DrawEventStrip(uint64_t position, const char* captionFormat, int* pDepthMM);
    // A 7 s strip under its caption; bClasses marks each beat's class.
    void DrawStrip(uint64_t position, const QString& caption, bool bClasses, int* pDepthMM);
    void DrawClassMarks(int64_t first, uint32_t count, int depthMM);
    void DrawPageHeading(const QString& title);
    void DrawHolterFigures(double topMM);
    void DrawHourlyTable(double topMM, double bottomMM);
    void DrawTachogram(double topMM, double bottomMM);

    CEcgDocument* m_pDocument;
    QPainter* m_pDC;
    CPrintInfo* m_pInfo;
    int m_nGain;

    double m_fDotsX = 1;   // device dots per 0.1 mm
    double m_fDotsY = 1;
    int m_nWidthMM = 0;
    int m_nHeightMM = 0;
};
