// The analysis result pane and the About box.
#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QtTest>

#include "panes/AboutDlg.h"
#include "panes/Panes.h"
#include "recording/File.h"
#include "resources/QtResources.h"
#include "support/QtSupport.h"

using namespace testsupport;

namespace {

// The header fields the result pane reads.
struct HeaderFields : Measurements {
    uint8_t flags = 0;
    uint8_t qrsCount = 0;
};

RecordingHeader HeaderOf(const HeaderFields& f)
{
    RecordingHeader h = ShortHeader();
    h.resultFlags = f.flags;
    h.qrsCount = f.qrsCount;
    SetMeasurements(h, f);
    return h;
}

}  // namespace

class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};

class TestResultPane : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    CAnalyzeResultDlg m_paneObject;
    CAnalyzeResultDlg* m_pane = &m_paneObject;

    QString Write(int kind, const HeaderFields& f)
    {
        const QString path = m_dir.filePath(kind == 3 ? "remote.dat" : "normal.dat");
        if (WriteShortRecording(path.toStdString(), HeaderOf(f), {}, kind).empty())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }
    QStringList Verdicts() const
    {
        return {m_pane->GetFieldText(1025), m_pane->GetFieldText(1023), m_pane->GetFieldText(1024)};
    }
    QStringList AllFields() const
    {
        QStringList all;
        for (int id : CAnalyzeResultDlg::kFieldIds)
            all << m_pane->GetFieldText(id);
        return all;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
    }

    void verdictsByFlagByte_data()
    {
        QTest::addColumn<int>("flags");
        QTest::addColumn<QStringList>("expected");
        const QString normal = "心律正常", wave = "波形正常";
        QTest::newRow("0x00") << 0x00 << QStringList{normal, wave, "心率正常"};
        QTest::newRow("0x20 bit 0 clear") << 0x20 << QStringList{normal, wave, "心率正常"};
        QTest::newRow("0x3E bit 0 clear") << 0x3E << QStringList{normal, wave, "心率正常"};
        QTest::newRow("0x01") << 0x01 << QStringList{normal, wave, "心率正常"};
        QTest::newRow("0x03") << 0x03 << QStringList{normal, wave, "心率稍慢"};
        QTest::newRow("0x05") << 0x05 << QStringList{normal, wave, "心率过慢"};
        QTest::newRow("0x07") << 0x07 << QStringList{normal, wave, "心率稍快"};
        QTest::newRow("0x09") << 0x09 << QStringList{normal, wave, "心率过快"};
        QTest::newRow("0x0B") << 0x0B << QStringList{normal, wave, "导联脱落"};
        QTest::newRow("0x0D") << 0x0D << QStringList{normal, wave, "-"};
        QTest::newRow("0x0F") << 0x0F << QStringList{normal, wave, "-"};
        QTest::newRow("0x31") << 0x31 << QStringList{"心律不齐", "波形过差", "心率正常"};
        QTest::newRow("0xF1 high bits ignored") << 0xF1 << QStringList{"心律不齐", "波形过差", "心率正常"};
        QTest::newRow("0x11") << 0x11 << QStringList{normal, "波形过差", "心率正常"};
    }
    void verdictsByFlagByte()
    {
        QFETCH(int, flags);
        QFETCH(QStringList, expected);
        HeaderFields f;
        f.flags = uint8_t(flags);
        m_pane->ShowResults(2, Write(2, f));
        QCOMPARE(Verdicts(), expected);
        QCOMPARE(m_pane->GetFieldText(1014), QStringLiteral("20 秒"));
    }

    void numberFormats()
    {
        HeaderFields f;
        f.avgRate = 725;
        f.qrsCount = 27;
        f.pr = 80;
        f.qt = 181;
        f.r = 1010;
        f.p = 126;   // 0.1247... -> 0.12
        f.t = -1;    // -0.00099 -> "-0.00"
        f.st = -505;
        for (int kind : {2, 3}) {
            m_pane->ShowResults(kind, Write(kind, f));
            QCOMPARE(m_pane->GetFieldText(1012), QStringLiteral("72.5 bpm"));
            QCOMPARE(m_pane->GetFieldText(1013), QStringLiteral("27"));
            QCOMPARE(m_pane->GetFieldText(1015), QStringLiteral("160 ms"));
            QCOMPARE(m_pane->GetFieldText(1016), QStringLiteral("362 ms"));
            QCOMPARE(m_pane->GetFieldText(1017), QStringLiteral("1.00 mv"));
            QCOMPARE(m_pane->GetFieldText(1018), QStringLiteral("0.12 mv"));
            QCOMPARE(m_pane->GetFieldText(1019), QStringLiteral("-0.00 mv"));
            QCOMPARE(m_pane->GetFieldText(1022), QStringLiteral("-0.50 mv"));
        }
    }

    void longRecordingAndClearLeaveDashes()
    {
        HeaderFields f;
        f.flags = 0x31;
        f.avgRate = 725;
        m_pane->ShowResults(2, Write(2, f));
        QCOMPARE(m_pane->GetFieldText(1012), QStringLiteral("72.5 bpm"));
        // A switch to a long recording: nothing is read, everything resets.
        m_pane->ShowResults(1, m_dir.filePath("does-not-matter"));
        QCOMPARE(AllFields(), QStringList(12, QStringLiteral("-")));

        m_pane->ShowResults(3, Write(3, f));
        QCOMPARE(m_pane->GetFieldText(1025), QStringLiteral("心律不齐"));
        m_pane->ClearResults();
        QCOMPARE(AllFields(), QStringList(12, QStringLiteral("-")));
    }

    void shortHeaderReadsAsZeros()
    {
        // Only the first 16 header bytes exist: the rest reads as zeros.
        const QString path = m_dir.filePath("truncated.dat");
        HeaderFields f;
        f.flags = 0x31;
        f.qrsCount = 9;
        f.avgRate = 725;
        const std::vector<uint8_t> bytes = ShortRecordingBytes(HeaderOf(f));
        QVERIFY(!WriteFile(path.toStdString(), {bytes.begin(), bytes.begin() + 16}).empty());
        try {
            m_pane->ShowResults(2, path);
        } catch (const CFileException& e) {
            QFAIL(e.what());
        }
        QCOMPARE(Verdicts(), (QStringList{"心律不齐", "波形过差", "心率正常"}));
        QCOMPARE(m_pane->GetFieldText(1012), QStringLiteral("72.5 bpm"));
        QCOMPARE(m_pane->GetFieldText(1013), QStringLiteral("9"));
        QCOMPARE(m_pane->GetFieldText(1015), QStringLiteral("0 ms"));
        QCOMPARE(m_pane->GetFieldText(1017), QStringLiteral("0.00 mv"));
    }

    void fileErrorPropagatesAfterClearing()
    {
        HeaderFields f;
        f.avgRate = 725;
        const QString path = Write(2, f);
        m_pane->ShowResults(2, path);
        QVERIFY(QFile::remove(path));
        bool thrown = false;
        try {
            m_pane->ShowResults(2, path);
        } catch (const CFileException& e) {
            thrown = true;
            QCOMPARE(e.m_cause, int(CFileException::fileNotFound));
            QCOMPARE(QString::fromStdString(e.m_strFileName), path);
        }
        QVERIFY(thrown);
        QCOMPARE(AllFields(), QStringList(12, QStringLiteral("-")));
    }

    void groupsWidenAndOnlyTheLastGrowsDown()
    {
        QWidget host;
        auto* pane = new CAnalyzeResultDlg;
        pane->Create(&host);
        pane->resize(260, 420);
        pane->show();
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        auto* g1008 = pane->findChild<QWidget*>("IDC_1008");
        auto* g1021 = pane->findChild<QWidget*>("IDC_1021");
        auto* g1020 = pane->findChild<QWidget*>("IDC_1020");
        auto* f1012 = pane->findChild<QLabel*>("IDC_1012");
        const QRect a = g1008->geometry(), b = g1021->geometry(), c = g1020->geometry();
        const int fieldRight = f1012->mapTo(pane, QPoint(f1012->width(), 0)).x();
        QVERIFY(a.bottom() < b.top() && b.bottom() < c.top());
        pane->resize(400, 700);
        QCoreApplication::processEvents();
        QCOMPARE(g1008->width() - a.width(), 140);
        QCOMPARE(g1021->width() - b.width(), 140);
        QCOMPARE(g1020->width() - c.width(), 140);
        QCOMPARE(f1012->mapTo(pane, QPoint(f1012->width(), 0)).x() - fieldRight, 140);
        QCOMPARE(g1008->height(), a.height());
        QCOMPARE(g1021->height(), b.height());
        QCOMPARE(g1020->height() - c.height(), 280);
        delete pane;
    }

    void aboutBoxTextsAndLinks()
    {
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler("https", &catcher, "open");
        QDesktopServices::setUrlHandler("mailto", &catcher, "open");
        CAboutDlg dlg;
        auto* web = dlg.findChild<QLabel*>("IDC_1037");
        auto* mail = dlg.findChild<QLabel*>("IDC_1038");
        QVERIFY(web && mail);
        QVERIFY(!web->openExternalLinks() && !mail->openExternalLinks());
        emit web->linkActivated(QStringLiteral("#"));
        emit mail->linkActivated(QStringLiteral("#"));
        QCOMPARE(catcher.urls.size(), 2);
        QCOMPARE(catcher.urls[0], QUrl(ToQString(Text::kMakerWeb)));
        // A mail client reads the address from the path of a mailto URL.
        QCOMPARE(catcher.urls[1].scheme(), QStringLiteral("mailto"));
        QCOMPARE(catcher.urls[1].path(), ToQString(Text::kMakerMail));
        QDesktopServices::unsetUrlHandler("https");
        QDesktopServices::unsetUrlHandler("mailto");

        auto* ok = dlg.findChild<QPushButton*>("IDC_1");
        QVERIFY(ok && ok->isDefault());
        QTimer::singleShot(0, ok, &QPushButton::click);
        QCOMPARE(dlg.exec(), int(QDialog::Accepted));

        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QVERIFY(SaveForInspection(&dlg, "about-box.png"));
    }
};

QTEST_MAIN(TestResultPane)
#include "tst_resultpane.moc"
