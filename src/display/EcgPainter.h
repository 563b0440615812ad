// Paints the visible stretch of a recording: background, 1 mm / 5 mm grid
// that moves with the signal, trace at 25 mm/s and 10 mm/mV times the zoom,
// calibration pulse, R-wave marks and captions, as the view's display
// settings say.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QString>
#include <cstdint>
#include <utility>
#include <vector>

class CEcgDocument;
class QPainter;

// What the waveform view shows and where: the view owns these settings and
// hands them to its painter for every paint.
struct DisplaySettings {
    bool m_bShowGrid = true;
    bool m_bShowRMarks = false;
    // R marks in their beat class's colour, with the letter of every class but N.
    bool m_bShowBeatClasses = false;
    bool m_bDragging = false;
    int m_nDragStartX = 0;
    float m_fZoom = 1.0f;
    int m_nGain = 50;          // pixels per millivolt at zoom 1.0; never changed
    int64_t m_nDragPos = 0;    // left edge while a drag is under way
    int64_t m_nViewPos = 0;    // left edge, committed
    int64_t m_nSelectedBeat = -1;   // sample of the selected beat, -1 for none
    uint64_t m_nHiddenLeads = 0;    // bit k: lead k of a recording of several is not drawn

    bool IsLeadHidden(int lead) const { return lead >= 0 && lead < 64 && (m_nHiddenLeads >> lead & 1u); }

    // The sample at the left edge as painted.
    int64_t LeftEdge() const { return m_bDragging ? m_nDragPos : m_nViewPos; }
};

class CEcgPainter {
public:
    static constexpr int LABEL_BAND = 25;
    static constexpr int STATUS_BAND = 25;
    static constexpr int CALIBRATION_SAMPLES = 100;
    static constexpr int FONT_CELL_HEIGHT = 14;

    static const QColor BACKGROUND_COLOR;   // (0, 50, 50)
    static const QColor CAPTION_COLOR;      // (0, 255, 255)
    static const QColor MAJOR_GRID_COLOR;   // (0, 90, 90)
    static const QColor MINOR_GRID_COLOR;   // (0, 60, 60)
    static const QColor TRACE_COLOR;        // (240, 240, 0)
    static const QColor RMARK_COLOR;        // (0, 200, 200)
    static const QColor SELECTION_COLOR;    // (255, 255, 255): the band around the selected beat

    CEcgPainter();
    ~CEcgPainter();
    CEcgPainter(const CEcgPainter&) = delete;
    CEcgPainter& operator=(const CEcgPainter&) = delete;

    // Paints the whole w x h client area into pDC.
    void DrawStrip(CEcgDocument* pDoc, const DisplaySettings& settings, QPainter* pDC, int w, int h,
                   bool bShowStatus);
    // Computes the two time captions for client x and keeps them until the
    // owner repaints the label band.
    void DrawTimeLabels(const CEcgDocument* pDoc, const DisplaySettings& settings, int x);
    // Draws the kept time captions with an opaque background.
    void PaintTimeLabels(QPainter* pDC) const;
    bool HasTimeLabels() const { return !m_strAbsTime.isEmpty(); }
    void ClearTimeLabels();
    const QString& GetAbsoluteTimeLabel() const { return m_strAbsTime; }
    const QString& GetRelativeTimeLabel() const { return m_strRelTime; }

    // The grid passes of DrawStrip, into the off-screen surface.
    static void DrawMinorGrid(QImage* surface, QRgb colour, int left, int top, int width, int height, int phase,
                              float zoom);
    static void DrawMajorGrid(QImage* surface, QRgb colour, int left, int top, int width, int height, int phase,
                              float zoom);
    // Background plus both grid passes in one sweep of template rows: the
    // same pixels as a fill, DrawMinorGrid and DrawMajorGrid, in a fraction of the time.
    static void DrawGridRows(QImage* surface, QRgb background, QRgb minor, QRgb major, int left, int top, int width,
                             int height, int phase, float zoom);

    // Status band height: 0 once detection and statistics are both done.
    static int StatusBandHeight(const CEcgDocument* pDoc);
    // Zoom caption (IDS_ZOOM_CAPTION) for zoom.
    static QString FormatZoomCaption(float zoom);
    // The status band's caption: the analysis step, and the detector when it is the precise one.
    static QString StatusCaption(const CEcgDocument* pDoc);
    const QFont& GetFont() const { return m_font; }
    // Horizontal offset of the grid in pixels, as the last paint computed it.
    int GetGridPhase() const { return m_nGridPhase; }
    // The leads the last paint drew and the top of each one's band, top down
    // (one entry for a single lead).
    const std::vector<std::pair<int, int>>& GetLeadBands() const { return m_bandTops; }

private:
    int m_nGridPhase = 0;
    QFont m_font;
    QRgb m_crMajorGrid;
    QRgb m_crMinorGrid;
    QRgb m_crTrace;
    QRgb m_crRMark;
    // The off-screen surface of the last paint, reused while the size holds.
    QImage m_surface;
    QString m_strAbsTime;
    QString m_strRelTime;
    std::vector<std::pair<int, int>> m_bandTops;
};
