// Report pages drawn onto a recording device: texts, positions and traces in
// 0.1 mm units, page counts and header verdicts.
#include <QTemporaryDir>
#include <QtTest>

#include <cstdlib>
#include <ctime>

#include "report/ReportTestSupport.h"
#include "support/DocumentAccess.h"

using namespace reporttest;

namespace {

// Strips on an event page start 10 mm down, 50 mm apart; the baseline is
// 30 mm below a strip's top.
int EventBaseline(int strip) { return 10 * (10 + 50 * strip + 30); }

std::vector<const CapturingEngine::Polyline*> Traces(const CapturingEngine& e)
{
    // Calibration pulses have 6 points; traces are longer.
    std::vector<const CapturingEngine::Polyline*> out;
    for (const auto& p : e.polylines)
        if (p.points.size() > 6)
            out.push_back(&p);
    return out;
}

}  // namespace

class TestReportPrinter : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString ShortPath(const char* name) { return m_dir.filePath(QString::fromLatin1(name)); }

    // A long recording "10110814.30" (2010-11-08 14:30:00 here, TZ=UTC).
    void OpenLong(CEcgDocument& doc, const std::vector<int16_t>& samples, std::vector<uint32_t> abnormal)
    {
        const QString path = m_dir.filePath(QStringLiteral("10110814.30"));
        QVERIFY(WriteLongRecording(path, samples));
        doc.OpenFile(path.toStdString());
        QCOMPARE(doc.GetFileKind(), int(ECG_KIND_HOLTER));
        DocAccess::AbnormalBeats(doc) = std::move(abnormal);
        DocAccess::SetDetectionDone(doc, true);
    }

    std::string ValuesFor(const RecordingHeader& h)
    {
        return CEcgReportPrinter::FormatResultValues(h);
    }

private slots:
    void initTestCase()
    {
        qputenv("TZ", "UTC");
        tzset();
        QVERIFY(m_dir.isValid());
    }

    void pageCount_data()
    {
        QTest::addColumn<int>("abnormal");
        QTest::addColumn<int>("pages");
        QTest::newRow("none") << 0 << 1;
        QTest::newRow("one") << 1 << 2;
        QTest::newRow("five") << 5 << 2;
        QTest::newRow("six") << 6 << 3;
        QTest::newRow("eleven") << 11 << 4;
    }
    void pageCount()
    {
        QFETCH(int, abnormal);
        QFETCH(int, pages);
        std::vector<uint32_t> beats;
        for (int i = 0; i < abnormal; ++i)
            beats.push_back(1000 + 250 * i);
        CEcgDocument doc;
        OpenLong(doc, std::vector<int16_t>(20000, 0), beats);
        QCOMPARE(CEcgReportPrinter::GetPageCount(&doc), pages);
    }

    void shortRecordingIsOnePage()
    {
        const QString path = ShortPath("short-pages.dat");
        QVERIFY(WriteShortRecording(path, MakeHeader(), {}));
        CEcgDocument doc;
        doc.OpenFile(path.toStdString());
        DocAccess::AbnormalBeats(doc) = {100, 200, 300, 400, 500, 600, 700};
        QCOMPARE(CEcgReportPrinter::GetPageCount(&doc), 1);
    }

    void summaryGeometry()
    {
        int L = 0, G = 0;
        CEcgReportPrinter::GetSummaryGeometry(210, 297, &L, &G);
        QCOMPARE(L, 125);
        QCOMPARE(G, 240);
        CEcgReportPrinter::GetSummaryGeometry(200, 285, &L, &G);
        QCOMPARE(L, 125);
        QCOMPARE(G, 240);
        // Too small for the layout: raised, never negative.
        CEcgReportPrinter::GetSummaryGeometry(60, 30, &L, &G);
        QCOMPARE(L, 25);
        QCOMPARE(G, 40);
        CEcgReportPrinter::GetSummaryGeometry(0, 0, &L, &G);
        QCOMPARE(L, 25);
        QCOMPARE(G, 40);
    }

    // The whole recording as 5 s lines: four full ones and a last of 1.6 s.
    void summaryStrips()
    {
        const QString path = ShortPath("strips.dat");
        std::vector<int16_t> samples(SHORT_SAMPLE_COUNT, 0);
        samples[0] = 1010;          // 1 mV at the first sample of line 0
        samples[1250] = -505;       // -0.5 mV at the first sample of line 1
        samples[2] = 11;            // 1.09 units up: truncated to 1
        samples[3] = -11;
        QVERIFY(WriteShortRecording(path, MakeHeader(), samples));
        CEcgDocument doc;
        doc.OpenFile(path.toStdString());

        CapturingDevice dev;
        CapturePage(doc, dev, PageInfo(1, 1));
        const CapturingEngine& e = dev.Engine();

        const QStringList expected = {"0s～5s", "5s～10s", "10s～15s", "15s～20s", "20s～21s"};
        const auto captions = e.LinesStartingWith(QString());
        int found = 0;
        for (int k = 0; k < expected.size(); ++k) {
            bool ok = false;
            for (const auto& t : captions) {
                if (t.text != expected[k])
                    continue;
                ok = true;
                QCOMPARE(qRound(t.baseline.x()), 160);
                // Cell top at 38 + 40k mm.
                const double top = t.baseline.y() - QFontMetricsF(t.font, &dev).ascent();
                QVERIFY2(qAbs(top - (380 + 400 * k)) <= 1.0, qPrintable(QString::number(top)));
            }
            QVERIFY2(ok, qPrintable(expected[k]));
            ++found;
        }
        QCOMPARE(found, 5);

        const auto traces = Traces(e);
        QCOMPARE(int(traces.size()), 5);
        for (int k = 0; k < 4; ++k)
            QCOMPARE(int(traces[k]->points.size()), 1250);
        QCOMPARE(int(traces[4]->points.size()), 400);   // 40 mm
        // Trace starts at 15 mm; 1 mV is 10 mm up from the 52 mm baseline.
        QCOMPARE(traces[0]->points[0], QPointF(150, 520 - 100));
        QCOMPARE(traces[0]->points[1], QPointF(151, 520));
        QCOMPARE(traces[0]->points[2], QPointF(152, 519));
        QCOMPARE(traces[0]->points[3], QPointF(153, 521));
        QCOMPARE(traces[0]->points[1249], QPointF(150 + 1249, 520));
        QCOMPARE(traces[1]->points[0], QPointF(150, 920 + 50));
        QCOMPARE(traces[4]->points[0].y(), 520.0 + 4 * 400);
        QCOMPARE(traces[0]->penWidth, 2.0);

        // Calibration pulses: 0.5 mm lead-in, 1 mV step 2 mm wide, 0.5 mm tail.
        int pulses = 0;
        for (const auto& p : e.polylines) {
            if (p.points.size() != 6)
                continue;
            const double B = 520 + 400 * pulses;
            const QPolygonF want = {QPointF(110, B), QPointF(115, B), QPointF(115, B - 100),
                                    QPointF(135, B - 100), QPointF(135, B), QPointF(140, B)};
            QCOMPARE(p.points, want);
            ++pulses;
        }
        QCOMPARE(pulses, 5);
    }

    // Frames, grid and the fixed texts of the summary page at A4.
    void summaryLayout()
    {
        const QString path = ShortPath("layout.dat");
        RecordingHeader h = MakeHeader();
        PutU16(h, 14, 725);
        QVERIFY(WriteShortRecording(path, h, {}));
        CEcgDocument doc;
        doc.OpenFile(path.toStdString());
        CapturingDevice dev;
        CapturePage(doc, dev, PageInfo(1, 1));
        const CapturingEngine& e = dev.Engine();

        auto hasRect = [&](double l, double t, double r, double b) {
            for (const QRectF& rc : e.rects)
                if (qAbs(rc.left() - l) < 0.01 && qAbs(rc.top() - t) < 0.01 && qAbs(rc.right() - r) < 0.01 &&
                    qAbs(rc.bottom() - b) < 0.01)
                    return true;
            return false;
        };
        QVERIFY(hasRect(100, 100, 2000, 260));     // title frame
        QVERIFY(hasRect(100, 270, 1400, 2720));    // strip area, L = 125, G = 240
        QVERIFY(hasRect(1410, 270, 2000, 2720));   // information panel

        // Major lines 5 mm apart: 48 horizontal (k = 1..48), 25 vertical (k = 1..25).
        int horizontal = 0, vertical = 0;
        for (const QLineF& l : e.lines) {
            if (l.y1() == l.y2()) {
                QCOMPARE(l.x1(), 100.0);
                QCOMPARE(l.x2(), 1400.0);
                QCOMPARE(std::fmod(l.y1() - 270, 50.0), 0.0);
                ++horizontal;
            } else {
                QCOMPARE(std::fmod(l.x1() - 100, 50.0), 0.0);
                QCOMPARE(l.y1(), 270.0);
                QCOMPARE(l.y2(), 2720.0);
                ++vertical;
            }
        }
        QCOMPARE(horizontal, 48);
        QCOMPARE(vertical, 25);

        // Minor dots: 1 mm apart, none on a 5 mm line.
        QVERIFY(!e.rects.empty());
        int dots = 0;
        for (const QRectF& rc : e.rects) {
            if (rc.width() != 1.0)
                continue;
            ++dots;
            QVERIFY(std::fmod(rc.left() - 100, 50.0) != 0.0);
            QVERIFY(std::fmod(rc.top() - 270, 50.0) != 0.0);
        }
        QCOMPARE(dots, 104 * 196);   // (130 - 26) x (245 - 49)

        QVERIFY(e.HasLine("心电分析报告"));
        QVERIFY(e.HasLine("25mm/s"));
        QVERIFY(e.HasLine("10mm/mV"));
        QVERIFY(e.HasLine("【基本信息】"));
        QVERIFY(e.HasLine("【分析结果】"));
        QVERIFY(e.HasLine("* 注：以上结果仅供参考"));
        QVERIFY(e.HasLine("2010-11-08 14:30:59"));
        QVERIFY(e.HasLine("21 s"));
        QVERIFY(e.HasLine("72.5 bpm 　"));

        // Values right-aligned at W - 13 mm, labels left at L + 19 mm.
        for (const auto& t : e.Lines()) {
            if (t.text == "72.5 bpm 　" || t.text == "2010-11-08 14:30:59")
                QVERIFY2(qAbs(t.right - 1970) < 0.5, qPrintable(QString::number(t.right)));
            if (t.text == "心率" || t.text == "测量时间")
                QCOMPARE(t.baseline.x(), 1440.0);
        }

        // Footer: the maker on the left, the printing time on the right.
        bool maker = false, stamp = false;
        const QRegularExpression timeRe(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"));
        for (const auto& t : e.Lines()) {
            if (t.text == QStringLiteral("维特尔医疗电子有限公司")) {
                maker = true;
                QCOMPARE(t.baseline.x(), 100.0);
                QVERIFY(t.baseline.y() > 2730 && t.baseline.y() < 2830);
            }
            if (timeRe.match(t.text).hasMatch() && t.baseline.y() > 2730) {
                stamp = true;
                QVERIFY(qAbs(t.right - 2000) < 0.5);
            }
        }
        QVERIFY(maker);
        QVERIFY(stamp);

        // Title font: a cell 8 mm high.
        for (const auto& t : e.Lines())
            if (t.text == "心电分析报告")
                QCOMPARE(QFontMetrics(t.font, &dev).height(), 80);
    }

    // A remote recording (22 leading bytes) prints the same summary page.
    void remoteRecordingSummary()
    {
        const QString path = ShortPath("remote.dat");
        RecordingHeader h = MakeHeader();
        h.minute = 31;
        QVERIFY(WriteShortRecording(path, h, {}, ECG_KIND_REMOTE));
        CEcgDocument doc;
        doc.OpenFile(path.toStdString());
        QCOMPARE(doc.GetFileKind(), int(ECG_KIND_REMOTE));
        CapturingDevice dev;
        CapturePage(doc, dev, PageInfo(1, 1));
        QVERIFY(dev.Engine().HasLine("2010-11-08 14:31:59"));
        QCOMPARE(int(Traces(dev.Engine()).size()), 5);
    }

    // The gain scales trace, pulse and legend of the summary; the event
    // legend is fixed text.
    void gainFollowsThePainter()
    {
        const QString path = ShortPath("gain.dat");
        std::vector<int16_t> samples(SHORT_SAMPLE_COUNT, 0);
        samples[0] = 1010;
        QVERIFY(WriteShortRecording(path, MakeHeader(), samples));
        CEcgDocument doc;
        doc.OpenFile(path.toStdString());
        CapturingDevice dev;
        CapturePage(doc, dev, PageInfo(1, 1), 100);
        QVERIFY(dev.Engine().HasLine("20mm/mV"));
        const auto traces = Traces(dev.Engine());
        QCOMPARE(traces[0]->points[0], QPointF(150, 520 - 200));
        bool pulse = false;
        for (const auto& p : dev.Engine().polylines)
            if (p.points.size() == 6 && p.points[0].y() == 520)
                pulse = p.points[2] == QPointF(115, 320);
        QVERIFY(pulse);
    }

    // Paper too small for the layout: the page is still drawn with L = 25
    // and G = 40 and nothing runs backwards.
    void tinyPaper()
    {
        const QString path = ShortPath("tiny.dat");
        QVERIFY(WriteShortRecording(path, MakeHeader(), {}));
        CEcgDocument doc;
        doc.OpenFile(path.toStdString());
        CapturingDevice dev(60, 30);
        CapturePage(doc, dev, PageInfo(1, 1, 60, 30));
        const CapturingEngine& e = dev.Engine();
        // 250 samples per line: 22 lines, the last of 150 samples.
        const auto traces = Traces(e);
        QCOMPARE(int(traces.size()), 22);
        QCOMPARE(int(traces.back()->points.size()), 150);
        QVERIFY(e.HasLine("20s～21s"));
        QVERIFY(e.HasLine("21s～21s"));
        bool areaFrame = false;
        for (const QRectF& rc : e.rects)
            if (rc == QRectF(QPointF(100, 270), QPointF(400, 720)))
                areaFrame = true;
        QVERIFY(areaFrame);
    }

    void headerVerdicts_data()
    {
        QTest::addColumn<int>("offset");
        QTest::addColumn<int>("raw");
        QTest::addColumn<QString>("line");
        // Heart rate in 0.1 bpm, bounds 60 and 100.
        QTest::newRow("hr below") << 14 << 599 << "59.9 bpm ↓";
        QTest::newRow("hr low bound") << 14 << 600 << "60.0 bpm 　";
        QTest::newRow("hr high bound") << 14 << 1000 << "100.0 bpm 　";
        QTest::newRow("hr above") << 14 << 1001 << "100.1 bpm ↑";
        // R amplitude, 1010 units per mV, bounds 0.5 and 2.0.
        QTest::newRow("r below") << 20 << 504 << "0.50 mV ↓";
        QTest::newRow("r low bound") << 20 << 505 << "0.50 mV 　";
        QTest::newRow("r high bound") << 20 << 2020 << "2.00 mV 　";
        QTest::newRow("r above") << 20 << 2021 << "2.00 mV ↑";
        // P amplitude, bounds 0 and 0.25.
        QTest::newRow("p below") << 22 << 0xffff << "-0.00 mV ↓";
        QTest::newRow("p zero") << 22 << 0 << "0.00 mV 　";
        QTest::newRow("p just in") << 22 << 252 << "0.25 mV 　";
        QTest::newRow("p above") << 22 << 253 << "0.25 mV ↑";
        // T amplitude, bounds 0.1 and 0.5.
        QTest::newRow("t below") << 24 << 100 << "0.10 mV ↓";
        QTest::newRow("t low bound") << 24 << 101 << "0.10 mV 　";
        QTest::newRow("t high bound") << 24 << 505 << "0.50 mV 　";
        QTest::newRow("t above") << 24 << 506 << "0.50 mV ↑";
        // PR in 2 ms units, bounds 120 and 200.
        QTest::newRow("pr below") << 16 << 59 << "118 ms ↓";
        QTest::newRow("pr low bound") << 16 << 60 << "120 ms 　";
        QTest::newRow("pr high bound") << 16 << 100 << "200 ms 　";
        QTest::newRow("pr above") << 16 << 101 << "202 ms ↑";
    }
    void headerVerdicts()
    {
        QFETCH(int, offset);
        QFETCH(int, raw);
        QFETCH(QString, line);
        RecordingHeader h = MakeHeader();
        // Every other figure sits inside its range.
        PutU16(h, 14, 750);
        PutU16(h, 16, 80);
        PutU16(h, 18, 190);
        PutU16(h, 20, 1010);
        PutU16(h, 22, 101);
        PutU16(h, 24, 303);
        SetBeats(h, {0, 200, 400});
        PutU16(h, offset, static_cast<uint16_t>(raw));
        const QStringList lines = QString::fromStdString(ValuesFor(h)).split("\r\n");
        QVERIFY2(lines.contains(line), qPrintable(lines.join('|')));
        // Only the figure under test may be marked.
        int marked = 0;
        for (const QString& l : lines)
            if (l.endsWith("↓") || l.endsWith("↑"))
                ++marked;
        QCOMPARE(marked, line.endsWith("　") ? 0 : 1);
    }

    void rrAndQtVerdicts_data()
    {
        QTest::addColumn<int>("rrSamples");
        QTest::addColumn<int>("qtRaw");
        QTest::addColumn<QString>("rrLine");
        QTest::addColumn<QString>("qtLine");
        QTest::newRow("rr below") << 149 << 190 << "596 ms ↓" << "380/492 ms 　";
        QTest::newRow("rr low bound") << 150 << 190 << "600 ms 　" << "380/490 ms 　";
        QTest::newRow("rr high bound") << 250 << 190 << "1000 ms 　" << "380/380 ms 　";
        QTest::newRow("rr above") << 251 << 190 << "1004 ms ↑" << "380/379 ms 　";
        QTest::newRow("qt below") << 250 << 169 << "1000 ms 　" << "338/338 ms ↓";
        QTest::newRow("qt low bound") << 250 << 170 << "1000 ms 　" << "340/340 ms 　";
        QTest::newRow("qt high bound") << 250 << 215 << "1000 ms 　" << "430/430 ms 　";
        QTest::newRow("qt above") << 250 << 216 << "1000 ms 　" << "432/432 ms ↑";
        // The verdict is on QT, not QTc: QTc 460 ms beside a normal QT.
        QTest::newRow("qt uncorrected") << 208 << 210 << "832 ms 　" << "420/460 ms 　";
    }
    void rrAndQtVerdicts()
    {
        QFETCH(int, rrSamples);
        QFETCH(int, qtRaw);
        QFETCH(QString, rrLine);
        QFETCH(QString, qtLine);
        RecordingHeader h = MakeHeader();
        PutU16(h, 14, 750);
        PutU16(h, 16, 80);
        PutU16(h, 18, static_cast<uint16_t>(qtRaw));
        PutU16(h, 20, 1010);
        PutU16(h, 22, 101);
        PutU16(h, 24, 303);
        SetBeats(h, {7, 7 + static_cast<uint32_t>(rrSamples), 7 + 2 * static_cast<uint32_t>(rrSamples)});
        const QStringList lines = QString::fromStdString(ValuesFor(h)).split("\r\n");
        QVERIFY2(lines.contains(rrLine), qPrintable(lines.join('|')));
        QVERIFY2(lines.contains(qtLine), qPrintable(lines.join('|')));
    }

    // Fewer than two header beats, or a beat table running backwards: no
    // positive mean RR, so no QTc.
    void qtcWithoutRR_data()
    {
        QTest::addColumn<std::vector<uint32_t>>("beats");
        QTest::addColumn<QString>("rrLine");
        QTest::newRow("one beat") << std::vector<uint32_t>{100} << "0 ms ↓";
        QTest::newRow("backwards") << std::vector<uint32_t>{600, 100} << "-2000 ms ↓";
    }
    void qtcWithoutRR()
    {
        QFETCH(std::vector<uint32_t>, beats);
        QFETCH(QString, rrLine);
        RecordingHeader h = MakeHeader();
        PutU16(h, 18, 210);
        SetBeats(h, beats);
        const QStringList lines = QString::fromStdString(ValuesFor(h)).split("\r\n");
        QVERIFY2(lines.contains(rrLine), qPrintable(lines.join('|')));
        QVERIFY2(lines.contains("420/- ms 　"), qPrintable(lines.join('|')));
        QCOMPARE(lines.size(), 20);
    }

    void eventFirstPage()
    {
        CEcgDocument doc;
        OpenLong(doc, std::vector<int16_t>(20000, 0), {});
        auto slow = std::make_unique<HourRateStats>(HourRateStats{14, 30, 14, 31, 70, 50, 90, 2500, 7500});
        DocAccess::HourStats(doc).push_back(std::move(slow));
        DocAccess::SetStatisticsReady(doc, true);

        CapturingDevice dev;
        CapturePage(doc, dev, PageInfo(1, 1));
        const CapturingEngine& e = dev.Engine();
        QVERIFY(e.HasLine("心电分析报告 (25mm/s, 10mm/mV)"));
        QVERIFY(e.HasLine("第 1 页，共 1 页"));
        const auto mins = e.LinesStartingWith("最小心率，发生时间：");
        const auto maxs = e.LinesStartingWith("最大心率，发生时间：");
        QCOMPARE(int(mins.size()), 1);
        QCOMPARE(int(maxs.size()), 1);
        QCOMPARE(mins[0].text, QString("最小心率，发生时间：2010-11-08 14:30:10"));
        QCOMPARE(maxs[0].text, QString("最大心率，发生时间：2010-11-08 14:30:30"));
        QCOMPARE(mins[0].baseline.x(), 135.0);
        const double ascent = QFontMetricsF(mins[0].font, &dev).ascent();
        QVERIFY(qAbs(mins[0].baseline.y() - ascent - 150) < 0.5);
        QVERIFY(qAbs(maxs[0].baseline.y() - ascent - 650) < 0.5);
        QCOMPARE(QFontMetrics(mins[0].font, &dev).height(), 30);

        // Two strips, each 1750 samples centred on its event.
        const auto traces = Traces(e);
        QCOMPARE(int(traces.size()), 2);
        QCOMPARE(int(traces[0]->points.size()), 1750);
        QCOMPARE(traces[0]->points[0], QPointF(135, EventBaseline(0)));
        QCOMPARE(traces[1]->points[0], QPointF(135, EventBaseline(1)));

        // Grid of each strip: 36 vertical and 9 horizontal lines.
        int vertical = 0, horizontal = 0;
        for (const QLineF& l : e.lines) {
            if (l.x1() == l.x2()) {
                QCOMPARE(l.length(), 400.0);
                ++vertical;
            } else {
                QCOMPARE(l.x1(), 135.0);
                QCOMPARE(l.x2(), 1885.0);
                ++horizontal;
            }
        }
        QCOMPARE(vertical, 72);
        QCOMPARE(horizontal, 18);

        // Beats of the precise detector: the title line says so.
        DocAccess::SetAnalysisDetector(doc, DetectorKind::Precise);
        CapturingDevice precise;
        CapturePage(doc, precise, PageInfo(1, 1));
        QVERIFY(precise.Engine().HasLine("心电分析报告 (25mm/s, 10mm/mV)（高精度 QRS 检测）"));
    }

    void eventPagesOfAbnormalBeats()
    {
        std::vector<int16_t> samples(20000, 0);
        samples[0] = 505;          // 0.5 mV at the very first sample
        samples[2] = 1;            // 0.099 units: trunc(0.099 - B) is one unit above B
        samples[3] = -1;
        samples[19999] = 1010;     // 1 mV at the very last sample
        samples[10000] = 5000;     // far beyond +20 mm
        samples[10001] = -5000;    // far beyond -20 mm
        CEcgDocument doc;
        OpenLong(doc, samples, {100, 5000, 10000, 12000, 15000, 19900});

        // Page 2: the first five beats.
        {
            CapturingDevice dev;
            CapturePage(doc, dev, PageInfo(2, 3));
            const CapturingEngine& e = dev.Engine();
            QVERIFY(e.HasLine("第 2 页，共 3 页"));
            const auto captions = e.LinesStartingWith("异常波形数据，发生时间：");
            QCOMPARE(int(captions.size()), 5);
            QCOMPARE(captions[0].text, QString("异常波形数据，发生时间：2010-11-08 14:30:00"));
            QCOMPARE(captions[4].text, QString("异常波形数据，发生时间：2010-11-08 14:31:00"));
            const auto traces = Traces(e);
            QCOMPARE(int(traces.size()), 5);

            // An early beat: the strip starts at sample 0 instead of centring.
            QCOMPARE(int(traces[0]->points.size()), 1750);
            QCOMPARE(traces[0]->points[0], QPointF(135, EventBaseline(0) - 50));
            QCOMPARE(traces[0]->points[1], QPointF(136, EventBaseline(0)));
            QCOMPARE(traces[0]->points[2], QPointF(137, EventBaseline(0) - 1));
            QCOMPARE(traces[0]->points[3], QPointF(138, EventBaseline(0)));

            // Beat at 10000: sample 10000 is point 875, in the middle; clamped to +-20 mm.
            const QPolygonF& mid = traces[2]->points;
            QCOMPARE(mid[875], QPointF(135 + 875, EventBaseline(2) - 200));
            QCOMPARE(mid[876], QPointF(135 + 876, EventBaseline(2) + 200));
            QCOMPARE(mid[874].y(), double(EventBaseline(2)));
            for (const QPointF& p : mid)
                QVERIFY(p.y() >= EventBaseline(2) - 200 && p.y() <= EventBaseline(2) + 200);
            // Beat at 12000 reads 11125 on: the spike at 10000 is outside it.
            QCOMPARE(int(traces[3]->points.size()), 1750);
            QCOMPARE(traces[3]->points[0].x(), 135.0);
        }
        // Page 3: the sixth beat alone, near the end: a shortened trace.
        {
            CapturingDevice dev;
            CapturePage(doc, dev, PageInfo(3, 3));
            const CapturingEngine& e = dev.Engine();
            QVERIFY(e.HasLine("第 3 页，共 3 页"));
            const auto captions = e.LinesStartingWith("异常波形数据，发生时间：");
            QCOMPARE(int(captions.size()), 1);
            QCOMPARE(captions[0].text, QString("异常波形数据，发生时间：2010-11-08 14:31:19"));
            const auto traces = Traces(e);
            QCOMPARE(int(traces.size()), 1);
            // 19900 - 875 = 19025 to the end: 975 samples, 97.5 mm.
            QCOMPARE(int(traces[0]->points.size()), 975);
            QCOMPARE(traces[0]->points.last(), QPointF(135 + 974, EventBaseline(0) - 100));
        }
        // A page beyond the list: header only.
        {
            CapturingDevice dev;
            CapturePage(doc, dev, PageInfo(4, 3));
            QVERIFY(dev.Engine().LinesStartingWith("异常波形数据").empty());
            QVERIFY(Traces(dev.Engine()).empty());
            QVERIFY(dev.Engine().HasLine("心电分析报告 (25mm/s, 10mm/mV)"));
        }
    }

    // Positions on a long recording are sample indices; a strip must never
    // read before the first sample even when the event is at sample 0.
    void eventAtSampleZeroAndPastTheEnd()
    {
        CEcgDocument doc;
        OpenLong(doc, std::vector<int16_t>(3000, 0), {0, 5000});
        CapturingDevice dev;
        CapturePage(doc, dev, PageInfo(2, 2));
        const auto traces = Traces(dev.Engine());
        // Sample 0: the strip holds the first 1750 samples. Past the end: a
        // caption and grid but no trace.
        QCOMPARE(int(traces.size()), 1);
        QCOMPARE(int(traces[0]->points.size()), 1750);
        QCOMPARE(int(dev.Engine().LinesStartingWith("异常波形数据").size()), 2);
    }

    // Preview draws a minor dot as one device pixel (a cosmetic mark shorter
    // than a pixel), paper as a 0.1 mm square.
    void previewDotsDifferFromPaper()
    {
        CEcgDocument doc;
        OpenLong(doc, std::vector<int16_t>(3000, 0), {});
        CapturingDevice paper, preview;
        CapturePage(doc, paper, PageInfo(1, 1, 210, 297, false));
        CapturePage(doc, preview, PageInfo(1, 1, 210, 297, true));
        const int dots = 2 * 140 * 32;
        std::vector<QPointF> paperDots, previewDots;
        for (const QRectF& rc : paper.Engine().rects)
            if (rc.width() == 1.0 && rc.height() == 1.0)
                paperDots.push_back(rc.topLeft());
        for (const QLineF& l : preview.Engine().lines)
            if (l.length() < 1)
                previewDots.push_back(l.p1());
        QCOMPARE(int(paperDots.size()), dots);
        QCOMPARE(previewDots, paperDots);
        QCOMPARE(preview.Engine().cosmeticLines, dots);
        // Everything else is the same drawing.
        QCOMPARE(paper.Engine().lines.size() + dots, preview.Engine().lines.size());
        QCOMPARE(paper.Engine().rects.size() - dots, preview.Engine().rects.size());
        QCOMPARE(paper.Engine().polylines.size(), preview.Engine().polylines.size());
        QCOMPARE(paper.Engine().texts.size(), preview.Engine().texts.size());
    }

    void unknownKindDrawsNothing()
    {
        CEcgDocument doc;   // no file: kind 0
        CapturingDevice dev;
        CapturePage(doc, dev, PageInfo(1, 1));
        QVERIFY(dev.Engine().texts.empty());
        QVERIFY(dev.Engine().polylines.empty());
        QCOMPARE(CEcgReportPrinter::GetPageCount(&doc), 1);
    }
};

QTEST_MAIN(TestReportPrinter)
#include "tst_reportprinter.moc"
