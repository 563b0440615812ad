// The paper scale of the printed report, measured on pages rendered to images
// at a known resolution, and the PDF export.
#include <QFile>
#include <QPicture>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdlib>
#include <ctime>

#include "report/ReportTestSupport.h"
#include "report/BatchReport.h"
#include "support/DocumentAccess.h"

using namespace reporttest;

namespace {

constexpr int kDpi = 300;
constexpr double kPxPerMM = kDpi / 25.4;

int Px(double mm) { return static_cast<int>(std::lround(mm * kPxPerMM)); }

// A flat recording with a 1 mV spike of one sample every second, half a
// second in, so the spikes fall between the 5 mm lines.
std::vector<int16_t> SpikesEverySecond(size_t count)
{
    std::vector<int16_t> s(count, 0);
    for (size_t i = 125; i < count; i += 250)
        s[i] = 1010;
    return s;
}

void SaveForLooking(const QImage& img, const QString& name)
{
    const QString dir = QStringLiteral(VITREL_TEST_OUTPUT_DIR);
    if (QDir().mkpath(dir))
        img.save(dir + '/' + name);
}

int CountPdfPages(const QByteArray& pdf)
{
    static const QRegularExpression re(QStringLiteral("/Type\\s*/Page[^s]"));
    return static_cast<int>(QString::fromLatin1(pdf).count(re));
}

}  // namespace

class TestReportScale : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    void OpenShort(CEcgDocument& doc)
    {
        const QString path = m_dir.filePath(QStringLiteral("scale.dat"));
        RecordingHeader h = MakeHeader();
        PutU16(h, 14, 725);
        PutU16(h, 16, 80);
        PutU16(h, 18, 190);
        PutU16(h, 20, 1212);
        PutU16(h, 22, 150);
        PutU16(h, 24, 300);
        SetBeats(h, {125, 375, 625, 875});
        QVERIFY(WriteShortRecording(path, h, SpikesEverySecond(SHORT_SAMPLE_COUNT)));
        doc.OpenFile(path.toStdString());
    }

    void OpenLong(CEcgDocument& doc, size_t samples, std::vector<uint32_t> abnormal)
    {
        const QString path = m_dir.filePath(QStringLiteral("10110814.30"));
        QVERIFY(WriteLongRecording(path, SpikesEverySecond(samples)));
        doc.OpenFile(path.toStdString());
        DocAccess::AbnormalBeats(doc) = std::move(abnormal);
        DocAccess::SetDetectionDone(doc, true);
    }

private slots:
    void initTestCase()
    {
        qputenv("TZ", "UTC");
        tzset();
        QVERIFY(m_dir.isValid());
    }

    void summaryPageScale()
    {
        CEcgDocument doc;
        OpenShort(doc);
        const QImage img = RenderPage(doc, kDpi, PageInfo(1, 1));
        SaveForLooking(img, QStringLiteral("summary-300dpi.png"));

        // Major grid: a line every 5 mm, measured on a row between minor dots
        // and clear of captions and trace (y = 33.5 mm).
        const auto runs = DarkRunsInRow(img, Px(33.5), Px(9), Px(100));
        QVERIFY2(runs.size() >= 18, qPrintable(QString::number(runs.size())));
        QVERIFY(qAbs(runs.front() - 10 * kPxPerMM) <= 1.5);
        for (size_t i = 1; i < runs.size(); ++i)
            QVERIFY2(qAbs(runs[i] - runs[i - 1] - 5 * kPxPerMM) <= 1.0,
                     qPrintable(QStringLiteral("%1 -> %2").arg(runs[i - 1]).arg(runs[i])));
        QVERIFY(qAbs(runs.back() - runs.front() - 5 * kPxPerMM * (runs.size() - 1)) <= 1.0);

        // Calibration pulse: its rising edge at x = 11.5 mm is 10 mm tall
        // (plus the 0.2 mm pen).
        const int edge = LongestDarkRunInColumn(img, Px(11.5), Px(35), Px(60));
        QVERIFY2(qAbs(edge - 10.2 * kPxPerMM) <= 2.0, qPrintable(QString::number(edge)));
        // The same 10 mm for 1 mV on the trace: spike at 27.5 mm from the 52 mm baseline.
        const int spike = LongestDarkRunInColumn(img, Px(27.5), Px(38), Px(53.5));
        QVERIFY2(qAbs(spike - 10.2 * kPxPerMM) <= 2.5, qPrintable(QString::number(spike)));

        // 25 mm/s: the spikes, one per second, are 25 mm apart on a row between
        // the 45 and 50 mm lines and off the whole millimetres.
        std::vector<double> spikes;
        for (double c : DarkRunsInRow(img, Px(46.5), Px(15), Px(140))) {
            const double mmFrom10 = c / kPxPerMM - 10;
            const double offGrid = std::fmod(mmFrom10, 5.0);
            if (offGrid > 1 && offGrid < 4)
                spikes.push_back(c);
        }
        QCOMPARE(int(spikes.size()), 5);
        QVERIFY(qAbs(spikes[0] - 27.5 * kPxPerMM) <= 1.5);
        for (size_t i = 1; i < spikes.size(); ++i)
            QVERIFY2(qAbs(spikes[i] - spikes[i - 1] - 25 * kPxPerMM) <= 1.0,
                     qPrintable(QString::number(spikes[i] - spikes[i - 1])));
        // The next line starts again at 15 mm: its first spike is again at 27.5 mm.
        QVERIFY(IsDark(img, Px(27.5), Px(86.5)));

        // Title frame from 10 to 200 mm at y = 10 mm.
        const auto frame = DarkRunsInRow(img, Px(18), 0, img.width() - 1);
        QVERIFY(frame.size() >= 2);
        QVERIFY(qAbs(frame.front() - 10 * kPxPerMM) <= 1.5);
        QVERIFY(qAbs(frame.back() - 200 * kPxPerMM) <= 1.5);
    }

    void eventPageScale()
    {
        CEcgDocument doc;
        // Beat 2975 reads from 2100: the spikes (125 + 250j) fall at 16 + 25j mm.
        OpenLong(doc, 30000, {2975, 6000});
        const QImage img = RenderPage(doc, kDpi, PageInfo(2, 2));
        SaveForLooking(img, QStringLiteral("event-page2-300dpi.png"));

        // First strip: grid from 13.5 to 188.5 mm and 20 to 60 mm, baseline 40 mm.
        // Row 35.5 mm lies between minor dots and crosses every spike.
        std::vector<double> lines, spikes;
        for (double c : DarkRunsInRow(img, Px(35.5), 0, img.width() - 1)) {
            const double offGrid = std::fmod(c / kPxPerMM - 13.5 + 100, 5.0);
            (offGrid > 1 && offGrid < 4 ? spikes : lines).push_back(c);
        }
        QCOMPARE(int(lines.size()), 36);
        QVERIFY(qAbs(lines.front() - 13.5 * kPxPerMM) <= 1.5);
        QVERIFY(qAbs(lines.back() - 188.5 * kPxPerMM) <= 1.5);
        for (size_t i = 1; i < lines.size(); ++i)
            QVERIFY(qAbs(lines[i] - lines[i - 1] - 5 * kPxPerMM) <= 1.0);
        QCOMPARE(int(spikes.size()), 7);
        QVERIFY(qAbs(spikes.front() - 16 * kPxPerMM) <= 1.5);
        for (size_t i = 1; i < spikes.size(); ++i)
            QVERIFY(qAbs(spikes[i] - spikes[i - 1] - 25 * kPxPerMM) <= 1.0);
        // 1 mV is 10 mm up from the baseline.
        const int spike = LongestDarkRunInColumn(img, Px(41), Px(25), Px(45));
        QVERIFY2(qAbs(spike - 10.2 * kPxPerMM) <= 2.5, qPrintable(QString::number(spike)));
    }

    // The preview dialog records each page as a picture and shows it scaled
    // down; every minor dot must still come out as a visible pixel there.
    void previewDotsSurviveScaling()
    {
        CEcgDocument doc;
        OpenShort(doc);
        QPicture pic;
        {
            QPainter p(&pic);
            CPrintInfo info = PageInfo(1, 1, 210, 297, true);
            CEcgReportPrinter printer(&doc, &p, &info, 50);
            printer.PrintPage();
        }
        const double scale = 0.8;
        const double ppm = pic.logicalDpiX() * scale / 25.4;
        QImage img(static_cast<int>(210 * ppm) + 1, static_cast<int>(297 * ppm) + 1, QImage::Format_RGB32);
        img.fill(Qt::white);
        {
            QPainter q(&img);
            q.setRenderHint(QPainter::Antialiasing);
            q.scale(scale, scale);
            q.drawPicture(0, 0, pic);
        }
        SaveForLooking(img, QStringLiteral("preview-picture.png"));
        // Inside the grid cells of an empty stretch (10-40 mm, 222-237 mm):
        // 16 dots per 5 mm cell, each one or two pixels.
        int cells = 0;
        for (int cx = 0; cx < 6; ++cx) {
            for (int cy = 0; cy < 3; ++cy) {
                const double x0 = 10 + 5 * cx, y0 = 222 + 5 * cy;
                int dark = 0;
                for (int y = static_cast<int>(y0 * ppm) + 2; y < static_cast<int>((y0 + 5) * ppm) - 1; ++y)
                    for (int x = static_cast<int>(x0 * ppm) + 2; x < static_cast<int>((x0 + 5) * ppm) - 1; ++x)
                        dark += qGray(img.pixel(x, y)) < 160;
                QVERIFY2(dark >= 16 && dark <= 32, qPrintable(QStringLiteral("%1 at %2,%3").arg(dark).arg(x0).arg(y0)));
                ++cells;
            }
        }
        QCOMPARE(cells, 18);
    }

    void pdfExport_data()
    {
        QTest::addColumn<QString>("pageSize");
        QTest::addColumn<int>("abnormal");
        QTest::addColumn<int>("pages");
        QTest::addColumn<QString>("mediaBox");
        QTest::newRow("short A4") << "A4" << -1 << 1 << "595 842";
        QTest::newRow("short default") << "" << -1 << 1 << "595 842";
        QTest::newRow("short letter") << "letter" << -1 << 1 << "612 792";
        QTest::newRow("long none") << "A4" << 0 << 1 << "595 842";
        QTest::newRow("long six") << "A4" << 6 << 3 << "595 842";
        QTest::newRow("long eleven") << "A4" << 11 << 4 << "595 842";
    }
    void pdfExport()
    {
        QFETCH(QString, pageSize);
        QFETCH(int, abnormal);
        QFETCH(int, pages);
        QFETCH(QString, mediaBox);
        CEcgDocument doc;
        if (abnormal < 0) {
            OpenShort(doc);
        } else {
            std::vector<uint32_t> beats;
            for (int i = 0; i < abnormal; ++i)
                beats.push_back(500 + 1000 * i);
            OpenLong(doc, 20000, beats);
        }
        const QString out = m_dir.filePath(QStringLiteral("report.pdf"));
        QFile::remove(out);
        std::string error;
        QVERIFY2(WriteReportPdf(doc, out.toStdString(), pageSize.toStdString(), &error), error.c_str());
        QFile f(out);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray pdf = f.readAll();
        QVERIFY(pdf.startsWith("%PDF-"));
        QCOMPARE(CountPdfPages(pdf), pages);
        // Points: A4 is 595 x 842, Letter 612 x 792.
        const QStringList wh = mediaBox.split(' ');
        const QRegularExpression box(QStringLiteral("/MediaBox \\[ ?0 0 %1(\\.0+)? %2(\\.0+)? ?\\]").arg(wh[0], wh[1]));
        QCOMPARE(int(QString::fromLatin1(pdf).count(box)), pages);
    }

    void pdfExportFailures()
    {
        CEcgDocument doc;
        OpenShort(doc);
        std::string error;
        QVERIFY(!WriteReportPdf(doc, m_dir.filePath("x.pdf").toStdString(), "NoSuchPaper", &error));
        QVERIFY(error.find("NoSuchPaper") != std::string::npos);
        QVERIFY(!QFile::exists(m_dir.filePath("x.pdf")));
        error.clear();
        QVERIFY(!WriteReportPdf(doc, m_dir.filePath("missing/dir/x.pdf").toStdString(), "A4", &error));
        QVERIFY(!error.empty());
        // A directory as output: an error, and the directory stays.
        const QString sub = m_dir.filePath("sub");
        QVERIFY(QDir().mkpath(sub));
        error.clear();
        QVERIFY(!WriteReportPdf(doc, sub.toStdString(), "A4", &error));
        QVERIFY(!error.empty());
        QVERIFY(QFileInfo(sub).isDir());
        // Through a link the file it names is replaced; the link stays.
        const QString target = m_dir.filePath("target.pdf"), link = m_dir.filePath("link.pdf");
        QVERIFY(QFile::link(target, link));
        QVERIFY2(WriteReportPdf(doc, link.toStdString(), "A4", &error), error.c_str());
        QVERIFY(QFileInfo(link).isSymLink());
        QVERIFY(QFileInfo(target).size() > 10000);
    }

    // Every text of every page comes back from the PDF as it was drawn:
    // digits beside letters, and ideographs as their unified code points.
    void pdfTextIsSearchable_data()
    {
        QTest::addColumn<int>("abnormal");
        QTest::newRow("summary page") << -1;
        QTest::newRow("event report") << 6;
    }
    void pdfTextIsSearchable()
    {
        QFETCH(int, abnormal);
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QSKIP("pdftotext not installed");
        CEcgDocument doc;
        if (abnormal < 0)
            OpenShort(doc);
        else
            OpenLong(doc, 20000, {500, 1500, 2500, 9000, 12000, 19000});
        const QString out = m_dir.filePath(QStringLiteral("text.pdf"));
        std::string error;
        QVERIFY2(WriteReportPdf(doc, out.toStdString(), "A4", &error), error.c_str());
        const int pages = CEcgReportPrinter::GetPageCount(&doc);
        QCOMPARE(pages, abnormal < 0 ? 1 : 3);
        for (int page = 1; page <= pages; ++page) {
            const QString text = PdfPageText(out, page);
            QVERIFY(!text.isEmpty());
            const QStringList missing = TextMissingFromPdf(doc, page, pages, text);
            QVERIFY2(missing.isEmpty(), qPrintable(QStringLiteral("page %1 lacks %2 in:\n%3")
                                                       .arg(page).arg(missing.join(" | "), text)));
        }
    }

    // The rendered PDF measured again after rasterising, when the tool is there.
    void pdfRasterScale()
    {
        const QString pdftoppm = QStandardPaths::findExecutable(QStringLiteral("pdftoppm"));
        if (pdftoppm.isEmpty())
            QSKIP("pdftoppm not installed");
        CEcgDocument doc;
        OpenShort(doc);
        const QString out = m_dir.filePath(QStringLiteral("raster.pdf"));
        std::string error;
        QVERIFY2(WriteReportPdf(doc, out.toStdString(), "A4", &error), error.c_str());
        QProcess p;
        p.start(pdftoppm, {"-r", "150", "-png", "-singlefile", out, m_dir.filePath("raster")});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 0);
        QImage img(m_dir.filePath("raster.png"));
        QVERIFY(!img.isNull());
        SaveForLooking(img, QStringLiteral("summary-pdf-150dpi.png"));
        const double ppm = 150 / 25.4;
        QVERIFY(qAbs(img.width() - 210 * ppm) <= 1.5);
        // Major lines 5 mm (29.5 px) apart on the strip area's row at 33.5 mm.
        const int y = static_cast<int>(std::lround(33.5 * ppm));
        std::vector<double> runs =
            DarkRunsInRow(img, y, static_cast<int>(9 * ppm), static_cast<int>(100 * ppm));
        QVERIFY(runs.size() >= 18);
        for (size_t i = 1; i < runs.size(); ++i)
            QVERIFY(qAbs(runs[i] - runs[i - 1] - 5 * ppm) <= 1.5);
        // One second of trace is 25 mm (147.6 px).
        std::vector<double> spikes;
        for (double c : DarkRunsInRow(img, static_cast<int>(std::lround(46.5 * ppm)), static_cast<int>(15 * ppm),
                                      static_cast<int>(140 * ppm))) {
            const double offGrid = std::fmod(c / ppm - 10, 5.0);
            if (offGrid > 1 && offGrid < 4)
                spikes.push_back(c);
        }
        QCOMPARE(int(spikes.size()), 5);
        for (size_t i = 1; i < spikes.size(); ++i)
            QVERIFY(qAbs(spikes[i] - spikes[i - 1] - 25 * ppm) <= 1.5);
        // The calibration pulse stands 10 mm (59 px) tall.
        const int edge = LongestDarkRunInColumn(img, static_cast<int>(std::lround(11.5 * ppm)),
                                                static_cast<int>(35 * ppm), static_cast<int>(60 * ppm));
        QVERIFY2(qAbs(edge - 10.2 * ppm) <= 2.0, qPrintable(QString::number(edge)));
    }
};

QTEST_MAIN(TestReportScale)
#include "tst_reportscale.moc"
