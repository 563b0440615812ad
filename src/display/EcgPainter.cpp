#include "display/EcgPainter.h"

#include <QFontMetrics>
#include <QPainter>

#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "analysis/BeatClass.h"
#include "analysis/EcgDocument.h"
#include "analysis/ElapsedTime.h"
#include "resources/QtResources.h"

const QColor CEcgPainter::BACKGROUND_COLOR(0, 50, 50);
const QColor CEcgPainter::CAPTION_COLOR(0, 255, 255);
const QColor CEcgPainter::MAJOR_GRID_COLOR(0, 90, 90);
const QColor CEcgPainter::MINOR_GRID_COLOR(0, 60, 60);
const QColor CEcgPainter::TRACE_COLOR(240, 240, 0);
const QColor CEcgPainter::SELECTION_COLOR(255, 255, 255);
const QColor CEcgPainter::RMARK_COLOR(0, 200, 200);

namespace {

enum PointKind : uint8_t { MOVE_TO, LINE_TO };

// Line drawing straight into the off-screen surface. Lines exclude their end
// point and never blend, so every pixel of the chart is exactly predictable.
class CSurface {
public:
    explicit CSurface(QImage& image)
        : m_pBits(reinterpret_cast<QRgb*>(image.bits())),
          m_nStride(static_cast<int>(image.bytesPerLine() / 4)),
          m_w(image.width()),
          m_h(image.height())
    {
    }

    void Pixel(int x, int y, QRgb c)
    {
        if (static_cast<unsigned>(x) < static_cast<unsigned>(m_w) && static_cast<unsigned>(y) < static_cast<unsigned>(m_h))
            m_pBits[y * m_nStride + x] = c;
    }
    // [x1, x2) on row y
    void HLine(int x1, int x2, int y, QRgb c)
    {
        if (y < 0 || y >= m_h)
            return;
        x1 = std::max(x1, 0);
        x2 = std::min(x2, m_w);
        QRgb* row = m_pBits + y * m_nStride;
        for (int x = x1; x < x2; ++x)
            row[x] = c;
    }
    // [y1, y2) in column x
    void VLine(int x, int y1, int y2, QRgb c)
    {
        if (x < 0 || x >= m_w)
            return;
        y1 = std::max(y1, 0);
        y2 = std::min(y2, m_h);
        for (int y = y1; y < y2; ++y)
            m_pBits[y * m_nStride + x] = c;
    }
    // From (x1, y1) towards (x2, y2), the end point excluded.
    void Line(int x1, int y1, int x2, int y2, QRgb c)
    {
        if (y1 == y2) {
            if (x2 >= x1)
                HLine(x1, x2, y1, c);
            else
                HLine(x2 + 1, x1 + 1, y1, c);
            return;
        }
        if (x1 == x2) {
            if (y2 >= y1)
                VLine(x1, y1, y2, c);
            else
                VLine(x1, y2 + 1, y1 + 1, c);
            return;
        }
        const int dx = std::abs(x2 - x1), dy = std::abs(y2 - y1);
        const int sx = x2 > x1 ? 1 : -1, sy = y2 > y1 ? 1 : -1;
        int x = x1, y = y1;
        if (dx >= dy) {
            int err = 2 * dy - dx;
            for (int i = 0; i < dx; ++i) {
                Pixel(x, y, c);
                if (err > 0) {
                    y += sy;
                    err -= 2 * dx;
                }
                err += 2 * dy;
                x += sx;
            }
        } else {
            int err = 2 * dx - dy;
            for (int i = 0; i < dy; ++i) {
                Pixel(x, y, c);
                if (err > 0) {
                    x += sx;
                    err -= 2 * dy;
                }
                err += 2 * dx;
                y += sy;
            }
        }
    }

private:
    QRgb* m_pBits;
    int m_nStride;
    int m_w;
    int m_h;
};

void DrawGrid(QImage* surface, QRgb colour, int left, int top, int width, int height, int phase, float zoom,
              int step, bool skipMajor)
{
    CSurface s(*surface);
    const double z = zoom;
    const double hLimit = height / z;
    if (hLimit >= 0) {
        for (int k = 0; k <= hLimit; k += step) {
            if (skipMajor && k % 25 == 0)
                continue;
            const int y = static_cast<int>(k * z + top);
            s.Line(left, y, left + width, y, colour);
        }
    }
    const double vLimit = width / z + 25;
    if (vLimit >= 0) {
        for (int k = 0; k <= vLimit; k += step) {
            if (skipMajor && k % 25 == 0)
                continue;
            const int x = static_cast<int>(k * z + left - phase);
            s.Line(x, top, x, top + height, colour);
        }
    }
}

// One lead's trace and calibration pulse; the baseline at top + half.
// False for want of memory.
bool DrawTrace(CSurface* surface, const int16_t* samples, uint32_t n, int half, int top, int gain, double z,
               std::vector<QPoint>& pts, std::vector<uint8_t>& kinds)
{
    if (n == 0)
        return true;
    try {
        pts.resize(n);
        kinds.assign(n, LINE_TO);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (uint32_t i = 0; i < n; ++i) {
        const int x = static_cast<int>((i / 2) * z);
        // In this order: scaling by gain * zoom first rounds differently.
        const int y = static_cast<int>(half - (samples[i] / double(ECG_UNITS_PER_MV)) * gain * z + top);
        pts[i] = QPoint(x, y);
    }
    kinds[0] = MOVE_TO;
    kinds[n - 1] = MOVE_TO;

    if (n > CEcgPainter::CALIBRATION_SAMPLES) {
        const int Y0 = half + top;
        const int Y1 = static_cast<int>(half - gain * z + top);
        for (int i = 0; i < CEcgPainter::CALIBRATION_SAMPLES; ++i)
            pts[i] = pts[CEcgPainter::CALIBRATION_SAMPLES];
        const int x25 = static_cast<int>(25 * z), x20 = static_cast<int>(20 * z), x30 = static_cast<int>(30 * z);
        pts[0] = QPoint(x25, Y1); kinds[0] = MOVE_TO;
        pts[1] = QPoint(x25, Y0); kinds[1] = LINE_TO;
        pts[2] = QPoint(x20, Y1); kinds[2] = MOVE_TO;
        pts[3] = QPoint(x30, Y1); kinds[3] = LINE_TO;
        pts[4] = QPoint(x20, Y0); kinds[4] = MOVE_TO;
        pts[5] = QPoint(x30, Y0); kinds[5] = LINE_TO;
        kinds[6] = MOVE_TO;
    }
    const QRgb trace = CEcgPainter::TRACE_COLOR.rgb();
    QPoint current = pts[0];
    for (uint32_t i = 0; i < n; ++i) {
        if (kinds[i] == LINE_TO)
            surface->Line(current.x(), current.y(), pts[i].x(), pts[i].y(), trace);
        current = pts[i];
    }
    return true;
}

}  // namespace

CEcgPainter::CEcgPainter()
    : m_font(CellHeightFont(Text::kFaceSong, FONT_CELL_HEIGHT)),
      m_crMajorGrid(MAJOR_GRID_COLOR.rgb()),
      m_crMinorGrid(MINOR_GRID_COLOR.rgb()),
      m_crTrace(TRACE_COLOR.rgb()),
      m_crRMark(RMARK_COLOR.rgb())
{
}

CEcgPainter::~CEcgPainter() = default;

int CEcgPainter::StatusBandHeight(const CEcgDocument* pDoc)
{
    if (pDoc && pDoc->IsDetectionDone() && pDoc->IsStatisticsReady())
        return 0;
    return STATUS_BAND;
}

QString CEcgPainter::StatusCaption(const CEcgDocument* pDoc)
{
    QString status = pDoc && pDoc->IsDetectionDone() ? LoadQString(IDS_STATUS_STATISTICS)
                                                        : LoadQString(IDS_STATUS_DETECTING);
    if (pDoc && pDoc->GetAnalysisDetector() == DetectorKind::Precise)
        status += ToQString(Text::kPreciseDetectorNote);
    return status;
}

QString CEcgPainter::FormatZoomCaption(float zoom)
{
    return FormatText(LoadString(IDS_ZOOM_CAPTION), static_cast<double>(zoom) * 100.0);
}

void CEcgPainter::DrawMinorGrid(QImage* surface, QRgb colour, int left, int top, int width, int height, int phase,
                                float zoom)
{
    DrawGrid(surface, colour, left, top, width, height, phase, zoom, 5, true);
}

void CEcgPainter::DrawMajorGrid(QImage* surface, QRgb colour, int left, int top, int width, int height, int phase,
                                float zoom)
{
    DrawGrid(surface, colour, left, top, width, height, phase, zoom, 25, false);
}

void CEcgPainter::DrawGridRows(QImage* surface, QRgb background, QRgb minor, QRgb major, int left, int top, int width,
                               int height, int phase, float zoom)
{
    const int w = surface->width(), h = surface->height();
    if (height <= 0) {   // nothing but the odd degenerate case: take the slow road
        surface->fill(background);
        DrawMinorGrid(surface, minor, left, top, width, height, phase, zoom);
        DrawMajorGrid(surface, major, left, top, width, height, phase, zoom);
        return;
    }
    const double z = zoom;
    // Row kinds: bit 0 minor horizontal line, bit 1 major horizontal line,
    // bit 2 crossed by the vertical lines. Each kind is one template row.
    std::vector<uint8_t> kind(static_cast<size_t>(h), 0);
    for (int y = std::max(top, 0); y < std::min(top + height, h); ++y)
        kind[static_cast<size_t>(y)] = 4;
    const double hLimit = height / z;
    for (int k = 0; k <= hLimit; k += 5) {
        const int y = static_cast<int>(k * z + top);
        if (y >= 0 && y < h)
            kind[static_cast<size_t>(y)] |= (k % 25 == 0) ? 2 : 1;
    }
    std::vector<int> minorX, majorX;
    const double vLimit = width / z + 25;
    for (int k = 0; k <= vLimit; k += 5) {
        const int x = static_cast<int>(k * z + left - phase);
        if (x >= 0 && x < w)
            (k % 25 == 0 ? majorX : minorX).push_back(x);
    }
    std::vector<QRgb> templates[8];
    auto templ = [&](int k) -> const QRgb* {
        std::vector<QRgb>& row = templates[k];
        if (row.empty()) {
            row.assign(static_cast<size_t>(w), background);
            const int x1 = std::max(left, 0), x2 = std::min(left + width, w);
            if (k & 1)
                std::fill(row.begin() + x1, row.begin() + std::max(x1, x2), minor);
            if (k & 4)
                for (int x : minorX)
                    row[static_cast<size_t>(x)] = minor;
            if (k & 2)
                std::fill(row.begin() + x1, row.begin() + std::max(x1, x2), major);
            if (k & 4)
                for (int x : majorX)
                    row[static_cast<size_t>(x)] = major;
        }
        return row.data();
    };
    for (int y = 0; y < h; ++y)
        std::memcpy(surface->scanLine(y), templ(kind[static_cast<size_t>(y)]), static_cast<size_t>(w) * sizeof(QRgb));
}

void CEcgPainter::DrawStrip(CEcgDocument* pDoc, const DisplaySettings& settings, QPainter* pDC, int w, int h,
                            bool bShowStatus)
{
    if (w <= 0 || h <= 0)
        return;
    const float zoom = settings.m_fZoom;
    const int gain = settings.m_nGain;
    const double z = zoom;
    const double requested = 2.0 * w / z;
    const uint32_t nRequested = requested > 0 ? static_cast<uint32_t>(std::min(requested, 4.0e9)) : 0;
    const int64_t P = settings.LeftEdge();

    std::vector<int16_t> samples;
    std::vector<QPoint> pts;
    std::vector<uint8_t> kinds;
    try {
        samples.resize(nRequested);
        if (m_surface.size() != QSize(w, h))
            m_surface = QImage(w, h, QImage::Format_ARGB32_Premultiplied);
    } catch (const std::bad_alloc&) {
        return;   // the window keeps what it showed before
    }
    if (m_surface.isNull())
        return;
    const uint32_t n = (pDoc && nRequested) ? pDoc->ReadSamples(samples.data(), P, nRequested) : 0;

    m_nGridPhase = static_cast<int>(static_cast<double>((P / 2) % 25) * z);
    const QString caption = FormatZoomCaption(zoom);
    const int B = StatusBandHeight(pDoc);
    const int h2 = h / 2;

    if (settings.m_bShowGrid)
        DrawGridRows(&m_surface, BACKGROUND_COLOR.rgb(), m_crMinorGrid, m_crMajorGrid, 0, LABEL_BAND, w,
                     h - B - LABEL_BAND, m_nGridPhase, zoom);
    else
        m_surface.fill(BACKGROUND_COLOR.rgb());
    CSurface surface(m_surface);

    // Every lead of a recording that holds several, stacked in bands of
    // equal height; the recorder's single lead fills the trace area.
    struct Band {
        int lead, half, top;
    };
    std::vector<Band> bands;
    const int leadCount = pDoc ? pDoc->GetLeadCount() : 0;
    const int analysed = pDoc ? pDoc->GetAnalysedLead() : 0;
    if (leadCount > 1) {
        std::vector<int> shown;
        for (int k = 0; k < leadCount; ++k)
            if (!settings.IsLeadHidden(k) || k == analysed)
                shown.push_back(k);
        const int bh = std::max(1, (h - B - LABEL_BAND) / int(shown.size()));
        for (size_t i = 0; i < shown.size(); ++i)
            bands.push_back({shown[i], bh / 2, LABEL_BAND + int(i) * bh});
    } else {
        bands.push_back({analysed, h2, LABEL_BAND});
    }
    m_bandTops.clear();
    std::vector<int16_t> other;
    for (const Band& band : bands) {
        const int16_t* trace = samples.data();
        uint32_t m = n;
        if (band.lead != analysed) {
            try {
                other.resize(nRequested);
            } catch (const std::bad_alloc&) {
                return;
            }
            m = pDoc->ReadLeadSamples(band.lead, other.data(), P, nRequested);
            trace = other.data();
        }
        if (!DrawTrace(&surface, trace, m, band.half, band.top, gain, z, pts, kinds))
            return;
        m_bandTops.push_back({band.lead, band.top});
    }

    // Letters of the classified marks, drawn with the captions below.
    std::vector<std::pair<int, BeatClass>> letters;
    if (settings.m_bShowRMarks && pDoc) {
        std::vector<uint32_t> beats;
        pDoc->GetBeatsInRange(static_cast<uint64_t>(std::max<int64_t>(P, 0)), n, beats);
        const std::shared_ptr<const AnalysisResults> results =
            settings.m_bShowBeatClasses ? pDoc->GetResults() : nullptr;
        for (uint32_t r : beats) {
            const int x = static_cast<int>(static_cast<double>((static_cast<int64_t>(r) - P) / 2) * z);
            if (x < 50 * z)
                continue;
            QRgb colour = m_crRMark;
            if (results) {
                const BeatClass c = results->ClassAt(r);
                colour = 0xFF000000u | GetBeatClassInfo(c).rgb;
                if (c != BeatClass::N && c != BeatClass::Unclassified)
                    letters.emplace_back(x, c);
            }
            surface.Line(x, LABEL_BAND, x, h - B, colour);
            // The selection: a band at both ends of the mark, clear of the trace.
            if (static_cast<int64_t>(r) == settings.m_nSelectedBeat)
                for (int dx = -3; dx <= 3; ++dx) {
                    surface.Line(x + dx, LABEL_BAND, x + dx, LABEL_BAND + 18, SELECTION_COLOR.rgb());
                    surface.Line(x + dx, h - B - 18, x + dx, h - B, SELECTION_COLOR.rgb());
                }
        }
    }

    QPainter text(&m_surface);
    text.setFont(m_font);
    text.setPen(CAPTION_COLOR);
    text.setBackgroundMode(Qt::TransparentMode);
    const QFontMetrics fm(m_font);
    for (const Band& band : bands) {
        if (n <= CALIBRATION_SAMPLES)
            break;
        const int T = static_cast<int>(band.half + 5 * z + band.top);
        text.drawText(QRect(0, T, static_cast<int>(50 * z), 32), Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine,
                      ToQString(Text::kCalibrationLabel));
    }
    if (leadCount > 1) {
        QFont bold = m_font;
        bold.setBold(true);
        for (const Band& band : bands) {
            const bool chosen = band.lead == analysed;
            QString name = QString::fromStdString(pDoc->GetLeadName(band.lead));
            if (chosen)
                name += ToQString(Text::kAnalysedLeadMark);
            text.setFont(chosen ? bold : m_font);
            text.drawText(QPoint(5, band.top + 3 + fm.ascent()), name);
        }
        text.setFont(m_font);
    }
    text.drawText(QPoint(5, 6 + fm.ascent()), caption);
    for (const auto& [x, c] : letters) {
        const BeatClassInfo& info = GetBeatClassInfo(c);
        text.setPen(QColor(QRgb(0xFF000000u | info.rgb)));
        // Beside the mark, so that the line does not cross the letter.
        text.drawText(QRect(x + 3, LABEL_BAND + 2, 20, fm.height()), Qt::AlignLeft | Qt::AlignTop,
                      QString(QChar(info.letter)));
    }
    text.setPen(CAPTION_COLOR);
    if (bShowStatus) {
        text.drawText(QPoint(5, h - 19 + fm.ascent()), StatusCaption(pDoc));
    }
    text.end();

    pDC->drawImage(QPoint(0, 0), m_surface);
}

void CEcgPainter::DrawTimeLabels(const CEcgDocument* pDoc, const DisplaySettings& settings, int x)
{
    // The committed position, also while a drag is under way.
    const int64_t S = static_cast<int64_t>(2.0 * x / settings.m_fZoom + static_cast<double>(settings.m_nViewPos));
    const uint32_t t = static_cast<uint32_t>(S) / ECG_SAMPLE_RATE;

    LocalFields lf;
    if (pDoc) {
        CTime when;
        pDoc->GetTimeAt(&when, static_cast<int32_t>(t), false);
        lf = when.GetLocalFields();
    }
    m_strAbsTime = ShowsElapsedTime(pDoc)
                       ? FormatText(Text::kAbsoluteElapsed, ElapsedText(t).c_str())
                       : FormatText(Text::kAbsoluteTime, lf.year, lf.month, lf.day, lf.hour, lf.minute, lf.second);
    m_strRelTime = FormatText(Text::kRelativeTime, static_cast<int>(t / 3600),
                              static_cast<int>((t / 60) % 60), static_cast<int>(t % 60));
}

void CEcgPainter::PaintTimeLabels(QPainter* pDC) const
{
    if (m_strAbsTime.isEmpty())
        return;
    pDC->save();
    pDC->setFont(m_font);
    pDC->setBackgroundMode(Qt::OpaqueMode);
    pDC->setBackground(BACKGROUND_COLOR);
    pDC->setPen(CAPTION_COLOR);
    const QFontMetrics fm(m_font);
    pDC->drawText(QPoint(200, 6 + fm.ascent()), m_strAbsTime);
    pDC->drawText(QPoint(450, 6 + fm.ascent()), m_strRelTime);
    pDC->restore();
}

void CEcgPainter::ClearTimeLabels()
{
    m_strAbsTime.clear();
    m_strRelTime.clear();
}
