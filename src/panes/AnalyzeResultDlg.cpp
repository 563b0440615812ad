#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>
#include <cstdio>
#include <cstring>
#include <memory>

#include "panes/Panes.h"
#include "recording/EcgFile.h"

namespace {

enum FieldSlot { kAvgRate, kMonitorTime, kRhythm, kWaveform, kRateVerdict, kQrsCount, kPR, kQT, kR, kP, kT, kST };

QString Format(const char* fmt, double value)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, value);
    return QString::fromUtf8(buf);
}

QString Format(const char* fmt, int value)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, value);
    return QString::fromUtf8(buf);
}

}  // namespace

CAnalyzeResultDlg::CAnalyzeResultDlg()
{
    // Template 153 is 152 x 254 dialog units; captions at 24, fields at 78, 48 wide.
    constexpr int kCaptionWidth = 72;
    constexpr int kFieldGap = 9;
    resize(228, 413);

    struct Row {
        const char* caption;
        int slot;
    };
    auto makeGroup = [&](int id, const char* title, std::initializer_list<Row> rows, bool grows) {
        auto* group = new QGroupBox(QString::fromUtf8(title), this);
        group->setObjectName(QStringLiteral("IDC_%1").arg(id));
        auto* grid = new QGridLayout(group);
        grid->setContentsMargins(27, 6, 30, 8);
        grid->setHorizontalSpacing(kFieldGap);
        grid->setVerticalSpacing(4);
        grid->setColumnMinimumWidth(0, kCaptionWidth);
        grid->setColumnStretch(1, 1);
        int r = 0;
        for (const Row& row : rows) {
            if (row.caption) {
                auto* caption = new QLabel(QString::fromUtf8(row.caption), group);
                caption->setTextFormat(Qt::PlainText);
                grid->addWidget(caption, r, 0, Qt::AlignLeft | Qt::AlignVCenter);
            }
            auto* field = new QLabel(QStringLiteral("-"), group);
            field->setTextFormat(Qt::PlainText);
            field->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            field->setMinimumWidth(72);
            field->setObjectName(QStringLiteral("IDC_%1").arg(kFieldIds[row.slot]));
            m_pFields[row.slot] = field;
            grid->addWidget(field, r, 1);
            ++r;
        }
        if (grows)
            grid->setRowStretch(r, 1);
        group->setSizePolicy(QSizePolicy::Preferred, grows ? QSizePolicy::Expanding : QSizePolicy::Fixed);
        return group;
    };

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(9, 9, 9, 9);
    layout->setSpacing(10);
    layout->addWidget(makeGroup(1008, "心率概况", {{"平均心率", kAvgRate}}, false));
    layout->addWidget(makeGroup(1021, "基本分析",
                                {{"监测时间", kMonitorTime}, {"分析结果", kRhythm}, {nullptr, kWaveform}, {nullptr, kRateVerdict}},
                                false));
    layout->addWidget(makeGroup(1020, "综合分析",
                                {{"QRS 波总数", kQrsCount},
                                 {"平均 PR 间期", kPR},
                                 {"平均 QT 间期", kQT},
                                 {"平均 R 波电压", kR},
                                 {"平均 P 波电压", kP},
                                 {"平均 T 波电压", kT},
                                 {"平均 ST 段", kST}},
                                true),
                      1);

    for (QString& s : m_strValues)
        s = QStringLiteral("-");
}

void CAnalyzeResultDlg::UpdateData()
{
    for (int i = 0; i < 12; ++i)
        m_pFields[i]->setText(m_strValues[i]);
}

QString CAnalyzeResultDlg::GetFieldText(int id) const
{
    for (int i = 0; i < 12; ++i)
        if (kFieldIds[i] == id)
            return m_pFields[i]->text();
    return {};
}

void CAnalyzeResultDlg::ClearResults()
{
    for (QString& s : m_strValues)
        s = QStringLiteral("-");
    UpdateData();
}

void CAnalyzeResultDlg::ShowResults(int kind, const QString& path)
{
    ClearResults();

    const std::string file = QFile::encodeName(path).toStdString();
    std::unique_ptr<CEcgFile> pFile;
    if (kind == ECG_KIND_NORMAL)
        pFile = std::make_unique<CNormalFile>(file);
    else if (kind == ECG_KIND_REMOTE)
        pFile = std::make_unique<CRemoteFile>(file);
    else
        return;
    if (!pFile->IsOpen()) {
        // The constructor does not report a failed open; raise the real cause
        // ("not found", "access denied") rather than the closed handle's.
        CFileException error;
        if (!pFile->Open(file, CFile::modeRead | CFile::shareDenyNone | CFile::typeBinary, &error))
            throw error;
    }

    RecordingHeader header;
    std::memset(&header, 0, sizeof header);
    pFile->ReadHeader(&header);   // a short read leaves zeros
    pFile->Close();
    pFile.reset();

    m_strValues[kMonitorTime] = QStringLiteral("20 秒");

    const unsigned flags = header.resultFlags & 0x3F;
    if (flags & 0x01) {
        m_strValues[kRhythm] = (flags & 0x20) ? QStringLiteral("心律不齐") : QStringLiteral("心律正常");
        m_strValues[kWaveform] = (flags & 0x10) ? QStringLiteral("波形过差") : QStringLiteral("波形正常");
        static const char* const kRateTexts[] = {"心率正常", "心率稍慢", "心率过慢", "心率稍快", "心率过快", "导联脱落"};
        const unsigned code = (flags >> 1) & 7;
        if (code < 6)
            m_strValues[kRateVerdict] = QString::fromUtf8(kRateTexts[code]);
    } else {
        m_strValues[kRhythm] = QStringLiteral("心律正常");
        m_strValues[kWaveform] = QStringLiteral("波形正常");
        m_strValues[kRateVerdict] = QStringLiteral("心率正常");
    }

    m_strValues[kAvgRate] = Format("%.01f bpm", HeaderU16(header, 14) / 10.0);
    m_strValues[kQrsCount] = Format("%d", static_cast<int>(header.qrsCount));
    m_strValues[kPR] = Format("%d ms", HeaderU16(header, 16) * 2);
    m_strValues[kQT] = Format("%d ms", HeaderU16(header, 18) * 2);
    m_strValues[kR] = Format("%.02f mv", HeaderI16(header, 20) / 1010.0);
    m_strValues[kP] = Format("%.02f mv", HeaderI16(header, 22) / 1010.0);
    m_strValues[kT] = Format("%.02f mv", HeaderI16(header, 24) / 1010.0);
    m_strValues[kST] = Format("%.02f mv", HeaderI16(header, 26) / 1010.0);

    UpdateData();
}
