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
#include "recording/HeaderFindings.h"
#include "resources/QtResources.h"

namespace {

enum FieldSlot { kAvgRate, kMonitorTime, kRhythm, kWaveform, kRateVerdict, kQrsCount, kPR, kQT, kR, kP, kT, kST };

}  // namespace

CAnalyzeResultDlg::CAnalyzeResultDlg()
{
    // The pane is 152 x 254 dialog units; captions at 24, fields at 78, 48 wide.
    constexpr int kCaptionWidth = 72;
    constexpr int kFieldGap = 9;
    resize(228, 413);

    struct Row {
        const char* caption;
        int slot;
    };
    auto makeGroup = [&](int id, const char* title, std::initializer_list<Row> rows, bool grows) {
        auto* group = new QGroupBox(ToQString(title), this);
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
                auto* caption = new QLabel(ToQString(row.caption), group);
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
    layout->addWidget(makeGroup(1008, Text::kGroupRate, {{Text::kAverageRate, kAvgRate}}, false));
    layout->addWidget(makeGroup(1021, Text::kGroupBasic,
                                {{Text::kMonitorTime, kMonitorTime},
                                 {Text::kAnalysisResult, kRhythm},
                                 {nullptr, kWaveform},
                                 {nullptr, kRateVerdict}},
                                false));
    layout->addWidget(makeGroup(1020, Text::kGroupOverall,
                                {{Text::kQrsCount, kQrsCount},
                                 {Text::kAveragePR, kPR},
                                 {Text::kAverageQT, kQT},
                                 {Text::kAverageR, kR},
                                 {Text::kAverageP, kP},
                                 {Text::kAverageT, kT},
                                 {Text::kAverageST, kST}},
                                true),
                      1);

    ClearResults();
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
    if (!IsShortRecordingKind(kind))
        return;
    std::unique_ptr<CEcgFile> pFile = OpenEcgFileOfKind(kind, file);

    RecordingHeader header;
    std::memset(&header, 0, sizeof header);
    pFile->ReadHeader(&header);   // a short read leaves zeros
    pFile->Close();
    pFile.reset();

    const HeaderFindings f = DecodeHeaderFindings(header);
    m_strValues[kMonitorTime] = ToQString(Text::kMonitorTimeValue);
    // Without the verdict bit every verdict reads normal.
    m_strValues[kRhythm] = ToQString(f.bVerdicts && f.bIrregularRhythm ? Text::kRhythmIrregular : Text::kRhythmNormal);
    m_strValues[kWaveform] = ToQString(f.bVerdicts && f.bPoorWaveform ? Text::kWaveformPoor : Text::kWaveformNormal);
    if (!f.bVerdicts)
        m_strValues[kRateVerdict] = ToQString(Text::kRateVerdicts[0]);
    else if (f.nRateVerdict < std::size(Text::kRateVerdicts))
        m_strValues[kRateVerdict] = ToQString(Text::kRateVerdicts[f.nRateVerdict]);

    m_strValues[kAvgRate] = FormatText(Text::kRateValue, double(f.fHeartRateBpm));
    m_strValues[kQrsCount] = FormatText("%d", f.nQrsCount);
    m_strValues[kPR] = FormatText(Text::kIntervalValue, f.nPrIntervalMs);
    m_strValues[kQT] = FormatText(Text::kIntervalValue, f.nQtIntervalMs);
    m_strValues[kR] = FormatText(Text::kVoltageValue, double(f.fRAmplitudeMv));
    m_strValues[kP] = FormatText(Text::kVoltageValue, double(f.fPAmplitudeMv));
    m_strValues[kT] = FormatText(Text::kVoltageValue, double(f.fTAmplitudeMv));
    m_strValues[kST] = FormatText(Text::kVoltageValue, double(f.fStLevelMv));

    UpdateData();
}
