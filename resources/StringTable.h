// Every user-visible text of the program, in UTF-8. Texts with a string-table
// id are read with LoadString(id), menu item texts with MenuText(command id);
// the others have names in Text. Standard C++ only: every layer includes it.
#pragma once

#include <iterator>

#include "resources/Resource.h"
#include "resources/Version.h"

struct StringTableEntry {
    int id;
    const char* text;
};

// Strings 141 and the printed variant without a QTc share all but their last item.
#define VITREL_RESULT_VALUES_FIRST_SIX                                                                                \
    "%.01f bpm %s\r\n(60～100 bpm)　\r\n\r\n"                                                                           \
    "%.02f mV %s\r\n(0.5～2.0 mV)　\r\n\r\n"                                                                            \
    "%.02f mV %s\r\n(0～0.25 mV)　\r\n\r\n"                                                                             \
    "%.02f mV %s\r\n(0.1～0.5 mV)　\r\n\r\n"                                                                            \
    "%d ms %s\r\n(600～1000 ms)　\r\n\r\n"                                                                              \
    "%d ms %s\r\n(120～200 ms)　\r\n\r\n"

inline constexpr StringTableEntry kStringTable[] = {
    {IDS_REPORT_TITLE, "心电分析报告"},
    {IDR_MAINFRAME, "Kardel 心电分析软件 v" VITREL_VERSION},
    {IDR_ECGTYPE, "心电文件"},
    {IDS_ZOOM_CAPTION, "心电图报告 - %.0f%%"},
    {IDS_STATUS_STATISTICS, "正在统计心律"},
    {IDS_STATUS_DETECTING, "正在分析数据"},
    {IDR_PANE_RHYTHM, "心律统计列表"},
    {IDS_EVENT_TITLE, "心电分析报告 (25mm/s, 10mm/mV)"},
    {IDS_ABNORMAL_CAPTION, "异常波形数据，发生时间：%04d-%02d-%02d %02d:%02d:%02d"},
    {IDS_MIN_RATE_CAPTION, "最小心率，发生时间：%04d-%02d-%02d %02d:%02d:%02d"},
    {IDS_MAX_RATE_CAPTION, "最大心率，发生时间：%04d-%02d-%02d %02d:%02d:%02d"},
    {IDS_RESULT_HEADING, "【分析结果】"},
    {IDS_RESULT_NOTE, "* 注：以上结果仅供参考"},
    {IDS_RESULT_LABELS, "心率\r\n\r\n\r\nR 波幅度\r\n\r\n\r\nP 波幅度\r\n\r\n\r\nT 波幅度\r\n\r\n\r\n"
                        "RR 间期\r\n\r\n\r\nPR 间期\r\n\r\n\r\nQT/QTc 间期"},
    {IDS_RESULT_VALUES, VITREL_RESULT_VALUES_FIRST_SIX "%d/%d ms %s\r\n(340～430 ms)　"},
    {IDS_STRIP_LEGEND, "%dmm/s\r\n%dmm/mV"},
    {IDS_STRIP_CAPTION, "%ds～%ds"},
    {IDS_INFO_HEADING, "【基本信息】"},
    {IDS_INFO_LABELS, "测量时间\r\n\r\n记录长度"},
    {IDS_INFO_VALUES, "%04d-%02d-%02d %02d:%02d:%02d\r\n\r\n%d s"},
    {IDS_COMPANY, "维特尔医疗电子有限公司"},
    {IDR_PANE_RESULT, "心电分析结果"},
    {IDR_PANE_ABNORMAL, "异常波形列表"},
    {IDR_PANE_TREND, "心率变化趋势"},
    {IDR_PANE_SUMMARY, "动态心电摘要"},
    {IDR_PANE_EVENTS, "心律事件列表"},
    {IDR_PANE_RRPLOTS, "RR 间期图"},
    {IDR_PANE_TEMPLATES, "心搏模板"},
    {ID_FILE_SAVE_REVIEW, "把心搏审核保存在记录旁边\n保存审核"},
    {AFX_IDS_IDLEMESSAGE, "已就续"},
    {IDS_CLASS_UNCLASSIFIED, "未分类"},
    {IDS_CLASS_N, "正常心搏"},
    {IDS_CLASS_S, "室上性早搏"},
    {IDS_CLASS_V, "室性早搏"},
    {IDS_CLASS_F, "融合波"},
    {IDS_CLASS_Q, "无法分类"},
    {IDS_EPISODE_FIRST + 0, "单发室早"},
    {IDS_EPISODE_FIRST + 1, "成对室早"},
    {IDS_EPISODE_FIRST + 2, "室性逸搏心律"},
    {IDS_EPISODE_FIRST + 3, "室性心动过速"},
    {IDS_EPISODE_FIRST + 4, "室早二联律"},
    {IDS_EPISODE_FIRST + 5, "室早三联律"},
    {IDS_EPISODE_FIRST + 6, "单发房早"},
    {IDS_EPISODE_FIRST + 7, "成对房早"},
    {IDS_EPISODE_FIRST + 8, "短阵房早"},
    {IDS_EPISODE_FIRST + 9, "室上性心动过速"},
    {IDS_EPISODE_FIRST + 10, "长间歇"},
    {IDS_EPISODE_FIRST + 11, "心房颤动"},

    // Command prompts: the status-bar text, after "\n" the tool tip.
    {ID_FILE_OPEN, "打开已存在的文件\n打开"},
    {ID_FILE_EXPORT, "将心电信号和检测到的 R 波导出为 CSV、EDF+ 或 WFDB 文件\n导出"},
    {ID_FILE_CLOSE, "关闭当前文件"},
    {ID_FILE_CLOSE_ALL, "关闭所有已打开的文件"},
    {ID_FILE_PRINT, "打印当前心电文档\n打印"},
    {ID_FILE_PRINT_PREVIEW, "显示心电报告打印预览"},
    {ID_FILE_PRINT_SETUP, "更改打印机相关选项\n打印设置"},
    {ID_FILE_MRU_FILE1, "打开该文档"},
    {ID_WINDOW_ARRANGE, "排列窗口图标"},
    {ID_WINDOW_CASCADE, "层叠排列窗口"},
    {ID_WINDOW_TILE_HORZ, "横向平铺窗口"},
    {ID_WINDOW_TABS, "以标签页显示全部窗口"},
    {ID_APP_ABOUT, "显示程序信息，版本号以及版权信息\n关于"},
    {ID_APP_EXIT, "退出应用程序\n退出"},
    {ID_VIEW_GRID, "显示或隐藏参考线\n参考线"},
    {ID_VIEW_RMARKS, "显示或隐藏 R 波标注\nR 波标注"},
    {ID_VIEW_ZOOM_IN, "放大波形\n放大"},
    {ID_VIEW_ZOOM_OUT, "缩小波形\n缩小"},
    {ID_VIEW_PRECISE_QRS, "以后打开的长时程记录使用高精度 QRS 检测\n高精度 QRS 检测"},
    {ID_VIEW_BEAT_CLASSES, "以颜色和字母标出每个心搏的分类\n显示心搏分类"},
};

// Item texts of the menus 128, 129 and 160, by command id.
inline constexpr StringTableEntry kMenuItems[] = {
    {ID_FILE_OPEN, "打开文件(&O)..."},
    {ID_FILE_EXPORT, "导出(&E)..."},
    {ID_FILE_CLOSE, "关闭文件(&C)"},
    {ID_FILE_CLOSE_ALL, "关闭全部(&L)"},
    {ID_FILE_PRINT, "打印心电(&P)..."},
    {ID_FILE_PRINT_PREVIEW, "打印预览(&V)"},
    {ID_FILE_PRINT_SETUP, "打印设置(&R)..."},
    {ID_FILE_PRINT_DIRECT, "直接打印"},   // no menu item: the command's own name
    {ID_FILE_MRU_FILE1, "历史文档"},      // stands where the recent files go while there are none
    {ID_APP_EXIT, "退出(&X)"},
    {ID_ZOOM_50, "50%"},
    {ID_ZOOM_75, "75%"},
    {ID_ZOOM_100, "100%"},
    {ID_ZOOM_125, "125%"},
    {ID_ZOOM_150, "150%"},
    {ID_ZOOM_200, "200%"},
    {ID_ZOOM_300, "300%"},
    {ID_ZOOM_400, "400%"},
    {ID_VIEW_GRID, "参考线(&G)"},
    {ID_VIEW_RMARKS, "R 波标注(&R)"},
    {ID_VIEW_ZOOM_IN, "放大(&I)"},
    {ID_VIEW_ZOOM_OUT, "缩小(&O)"},
    {ID_VIEW_PRECISE_QRS, "高精度 QRS 检测(&Q)"},
    {ID_VIEW_BEAT_CLASSES, "显示心搏分类(&B)"},
    {ID_WINDOW_CASCADE, "层叠排列(&C)"},
    {ID_WINDOW_TILE_HORZ, "平铺窗口(&T)"},
    {ID_WINDOW_ARRANGE, "排列图标(&A)"},
    {ID_WINDOW_TABS, "标签页(&B)"},
    {ID_APP_ABOUT, "关于(&A)..."},
    {ID_FILE_SAVE_REVIEW, "保存审核(&S)"},
    {ID_BEAT_LABEL_N, "标为正常心搏 (N)"},
    {ID_BEAT_LABEL_S, "标为室上性早搏 (S)"},
    {ID_BEAT_LABEL_V, "标为室性早搏 (V)"},
    {ID_BEAT_LABEL_F, "标为融合波 (F)"},
    {ID_BEAT_LABEL_Q, "标为无法分类 (Q)"},
    {ID_BEAT_DELETE, "删除心搏 (Del)"},
    {ID_BEAT_INSERT, "在此添加心搏 (Insert)"},
    {ID_EDIT_UNDO_BEAT, "撤销 (Ctrl+Z)"},
    {ID_EDIT_REDO_BEAT, "重做 (Ctrl+Y)"},
};

constexpr const char* FindText(const StringTableEntry* first, const StringTableEntry* last, int id)
{
    for (; first != last; ++first)
        if (first->id == id)
            return first->text;
    return "";
}

// The string with id, or "" when the table has none.
constexpr const char* LoadString(int id)
{
    return FindText(std::begin(kStringTable), std::end(kStringTable), id);
}

// The menu item text of command id, or "".
constexpr const char* MenuText(int id)
{
    return FindText(std::begin(kMenuItems), std::end(kMenuItems), id);
}

namespace Text {

// Menus and bars.
inline constexpr char kMenuFile[] = "文件(&F)";
inline constexpr char kMenuView[] = "查看(&V)";
inline constexpr char kMenuZoom[] = "视图缩放(&Z)";
inline constexpr char kMenuWindow[] = "窗口(&W)";
inline constexpr char kMenuHelp[] = "帮助(&H)";
inline constexpr char kContextMenu[] = "&ContextMenu";
inline constexpr char kMenuBar[] = "菜单栏";
inline constexpr char kToolBar[] = "工具栏";

// The open dialog. The shown caption is the part before the last parentheses;
// the pattern is "*", as "*.*" would hide names without a dot.
inline constexpr char kOpenTitle[] = "打开";
inline constexpr char kOpenFilter[] = "所有文件 (*.*) (*)";

// The export dialog: one filter per kind, in this order.
inline constexpr char kExportTitle[] = "导出";
inline constexpr char kExportFilterCsv[] = "R 波列表 CSV (*.csv)";
inline constexpr char kExportFilterEdf[] = "EDF+ 文件 (*.edf)";
inline constexpr char kExportFilterWfdb[] = "WFDB 记录（所选文件夹）(*.hea)";
inline constexpr char kExportLookIn[] = "查找范围：";
inline constexpr char kExportFileName[] = "文件名(&N)：";
inline constexpr char kExportFileType[] = "保存类型：";
inline constexpr char kExportAccept[] = "保存(&S)";
inline constexpr char kExportReject[] = "取消";
inline constexpr char kExportOverRecording[] = "不能导出到 %1：它是打开的心电记录或其所属的文件。";
inline constexpr char kCannotExport[] = "导出失败：%1";
inline constexpr char kCannotWriteExport[] = "无法写入 %1：%2";
inline constexpr char kExportReplaceRecord[] = "%1 已存在。\n要替换这个 WFDB 记录吗？";
inline constexpr char kExportReplaceFile[] = "%1 已存在。\n要替换它吗？";
inline constexpr char kExportDone[] = "已导出 %1。";

// Added to the status caption and the report title when the precise detector found the beats.
inline constexpr char kPreciseDetectorNote[] = "（高精度 QRS 检测）";
// A standard recording's window title: file name, then the lead shown.
inline constexpr char kLeadTitle[] = "%1 — %2";

// The waveform's scroll-bar menu.
inline constexpr char kScrollHere[] = "滚动至此";
inline constexpr char kScrollLeftEdge[] = "左边缘";
inline constexpr char kScrollRightEdge[] = "右边缘";
inline constexpr char kScrollPageLeft[] = "向左翻页";
inline constexpr char kScrollPageRight[] = "向右翻页";
inline constexpr char kScrollLineLeft[] = "向左滚动";
inline constexpr char kScrollLineRight[] = "向右滚动";

// The waveform strip.
inline constexpr char kCalibrationLabel[] = "1mv";
// After the name of the analysed lead, when a recording shows several.
inline constexpr char kAnalysedLeadMark[] = "（分析）";
// The view menu's leads pop-up: one item to show each lead, one to analyse it.
inline constexpr char kMenuLeads[] = "导联(&L)";
inline constexpr char kShowLead[] = "显示导联 %1\tAlt+%2";
inline constexpr char kAnalyseLead[] = "分析导联 %1";
inline constexpr char kLeadChanged[] = "正在重新分析导联 %1";
inline constexpr char kAbsoluteTime[] = "绝对时间：%04d-%02d-%02d %02d:%02d:%02d";
inline constexpr char kRelativeTime[] = "相对时间：%02d:%02d:%02d";
// A recording that cannot tell when it began: the time since its start.
inline constexpr char kAbsoluteElapsed[] = "绝对时间：%s";

// The analysis result pane: group titles, captions, values.
inline constexpr char kGroupRate[] = "心率概况";
inline constexpr char kGroupBasic[] = "基本分析";
inline constexpr char kGroupOverall[] = "综合分析";
inline constexpr char kAverageRate[] = "平均心率";
inline constexpr char kMonitorTime[] = "监测时间";
inline constexpr char kAnalysisResult[] = "分析结果";
inline constexpr char kQrsCount[] = "QRS 波总数";
inline constexpr char kAveragePR[] = "平均 PR 间期";
inline constexpr char kAverageQT[] = "平均 QT 间期";
inline constexpr char kAverageR[] = "平均 R 波电压";
inline constexpr char kAverageP[] = "平均 P 波电压";
inline constexpr char kAverageT[] = "平均 T 波电压";
inline constexpr char kAverageST[] = "平均 ST 段";
inline constexpr char kMonitorTimeValue[] = "20 秒";
inline constexpr char kRhythmNormal[] = "心律正常";
inline constexpr char kRhythmIrregular[] = "心律不齐";
inline constexpr char kWaveformNormal[] = "波形正常";
inline constexpr char kWaveformPoor[] = "波形过差";
// Rate verdicts by the header's code 0 to 5.
inline constexpr const char* kRateVerdicts[] = {"心率正常", "心率稍慢", "心率过慢", "心率稍快", "心率过快", "导联脱落"};
inline constexpr char kRateValue[] = "%.01f bpm";
inline constexpr char kIntervalValue[] = "%d ms";
inline constexpr char kVoltageValue[] = "%.02f mv";

// The list panes' column headings.
inline constexpr char kColumnTime[] = "时间";
inline constexpr char kColumnSlowest[] = "最慢";
inline constexpr char kColumnAverage[] = "平均";
inline constexpr char kColumnFastest[] = "最快";
inline constexpr char kColumnIndex[] = "索引";
inline constexpr char kColumnNumber[] = "序号";
inline constexpr char kColumnOccurred[] = "发生时间";

// The heart-rate trend chart.
inline constexpr const char* kTrendLegend[] = {"平均心率", "最小心率", "最大心率"};
inline constexpr const char* kTrendReadOut[] = {"平均心率: %.0f", "最小心率: %.0f", "最大心率: %.0f"};
inline constexpr char kTrendRateAxis[] = "心率";
inline constexpr char kTrendTimeAxis[] = "时间";

// The Holter summary pane: groups, items, and the value formats it shares with the report.
inline constexpr char kSummaryItem[] = "项目";
inline constexpr char kSummaryValue[] = "数值";
inline constexpr char kSummaryTime[] = "时间";
inline constexpr char kSummaryGroupRate[] = "心率";
inline constexpr char kSummaryGroupV[] = "室性异位";
inline constexpr char kSummaryGroupS[] = "室上性异位";
inline constexpr char kSummaryGroupRuns[] = "连发";
inline constexpr char kSummaryGroupPauses[] = "长间歇";
inline constexpr char kSummaryGroupAf[] = "心房颤动";
inline constexpr char kSummaryGroupHrv[] = "心率变异性（时域）";
inline constexpr char kBeatsAnalysed[] = "分析心搏数";
inline constexpr char kMeanRate[] = "平均心率";
inline constexpr char kMinRate[] = "最小心率";
inline constexpr char kMaxRate[] = "最大心率";
inline constexpr char kVBeats[] = "室性心搏总数";
inline constexpr char kSBeats[] = "室上性心搏总数";
inline constexpr char kLongestRun[] = "最长连发";
inline constexpr char kFastestRun[] = "最快连发";
inline constexpr char kPauseCount[] = "长间歇次数";
inline constexpr char kLongestPause[] = "最长间歇";
inline constexpr char kAfBurden[] = "房颤负荷";
inline constexpr char kAfEpisodes[] = "房颤阵数";
inline constexpr char kAfLongest[] = "最长房颤";
inline constexpr char kHrvMeanNN[] = "平均 NN 间期";
inline constexpr char kHrvSdnn[] = "SDNN";
inline constexpr char kHrvSdann[] = "SDANN";
inline constexpr char kHrvSdnnIndex[] = "SDNN 指数";
inline constexpr char kHrvRmssd[] = "RMSSD";
inline constexpr char kHrvPnn50[] = "pNN50";
inline constexpr char kHrvTriangular[] = "三角指数";
inline constexpr char kNoValue[] = "-";
inline constexpr char kBpmValue[] = "%.0f bpm";
inline constexpr char kMsValue[] = "%.1f ms";
inline constexpr char kPercentValue[] = "%.1f%%";
inline constexpr char kRatioValue[] = "%.1f";
inline constexpr char kClockValue[] = "%02d:%02d:%02d";
inline constexpr char kSecondsValue[] = "%.1f 秒";
// A run: its type, beats and rate.
inline constexpr char kRunValue[] = "%1，%2 次心搏，%3";

// The events pane.
inline constexpr char kEventsFilter[] = "类型：";
inline constexpr char kEventsAll[] = "全部";
inline constexpr char kColumnType[] = "类型";
inline constexpr char kColumnStart[] = "开始时间";
inline constexpr char kColumnDuration[] = "持续时间";
inline constexpr char kColumnBeats[] = "心搏数";
inline constexpr char kColumnRate[] = "心率";

// The RR plots.
inline constexpr char kTachogramTitle[] = "RR 间期趋势";
inline constexpr char kHistogramTitle[] = "RR 间期直方图";
inline constexpr char kPoincareTitle[] = "Poincaré 散点图";
inline constexpr char kRRAxis[] = "RR (ms)";
inline constexpr char kNextRRAxis[] = "RR(n+1) (ms)";
inline constexpr char kBeatCountAxis[] = "心搏数";

// The About box and the maker's lines (the report footer prints string 147).
inline constexpr char kAboutTitle[] = "关于信息";
inline constexpr char kOk[] = "确定";
inline constexpr char kMakerWeb[] = "https://www.example.com/";
inline constexpr char kMakerPhone[] = "电话：010-5550-0123";
inline constexpr char kMakerMail[] = "support@example.com";

// The printed report beyond its numbered strings.
inline constexpr char kResultValuesNoQTc[] = VITREL_RESULT_VALUES_FIRST_SIX "%d/- ms %s\r\n(340～430 ms)　";
inline constexpr char kPageLabel[] = "第 %d 页，共 %d 页";
inline constexpr char kFooterTime[] = "%Y-%m-%d %H:%M:%S";
inline constexpr char kMarkBelow[] = "↓";
inline constexpr char kMarkAbove[] = "↑";
inline constexpr char kMarkNormal[] = "　";
inline constexpr char kPrintTitle[] = "打印";
inline constexpr char kCannotPrint[] = "无法开始打印。";
inline constexpr char kCannotWriteReport[] = "无法写入 %1：%2";
inline constexpr char kReportOverRecording[] = "不能将报告写入 %1：它是打开的心电记录。";
// The report's Holter pages.
inline constexpr char kHolterPageTitle[] = "动态心电图摘要 (25mm/s, 10mm/mV)";
inline constexpr char kHourlyHeading[] = "每小时心率与异位心搏";
inline constexpr char kColumnHour[] = "时段";
inline constexpr char kColumnMeanRate[] = "平均心率";
inline constexpr char kColumnMinRate[] = "最低心率";
inline constexpr char kColumnMaxRate[] = "最高心率";
inline constexpr char kColumnVBeats[] = "室性";
inline constexpr char kColumnSBeats[] = "室上性";
inline constexpr char kHourSpan[] = "%02d:%02d-%02d:%02d";
inline constexpr char kHoursLeftOut[] = "（另有 %d 小时未列出）";
inline constexpr char kFirstAfCaption[] = "首次房颤发作";
// A Holter strip's caption: what it shows, then when.
inline constexpr char kHolterStripCaption[] = "%1（%2），发生时间：%3";
inline constexpr char kHolterPagesOption[] = "报告中加入动态心电图摘要页和事件条图";

// File errors; %1 stands for the path.
inline constexpr char kFileNotFound[] = "没有找到 %1。";
inline constexpr char kBadPath[] = "%1 包含错误的路径。";
inline constexpr char kTooManyOpenFiles[] = "无法打开 %1，因为打开的文件太多。";
inline constexpr char kAccessDenied[] = "对 %1 的访问被拒绝。";
inline constexpr char kInvalidFile[] = "与 %1 相关联的文件句柄不正确。";
inline constexpr char kBadSeek[] = "对 %1 进行查找失败。";
inline constexpr char kHardIO[] = "访问 %1 时遇到硬件 I/O 错误。";
inline constexpr char kSharingViolation[] = "访问 %1 时遇到共享冲突。";
inline constexpr char kLockViolation[] = "访问 %1 时遇到锁定冲突。";
inline constexpr char kGenericFileError[] = "访问 %1 时发生未知错误。";
// Recordings of the standard formats.
inline constexpr char kRecordingDamaged[] = "%1 已损坏，无法读取其中的心电信号。";
inline constexpr char kFormatUnsupported[] = "%1 不是可以识别的心电记录格式。";
inline constexpr char kLeadNotFound[] = "%1 中没有可用的心电导联。";
inline constexpr char kRecordingTooLarge[] = "%1 太大，无法读入内存。";
inline constexpr char kRecordingDiscontinuous[] = "%1 是带间断的不连续记录（EDF+D/BDF+D），间断前后的时间无法连成一条心电，不予打开。";
inline constexpr char kOutOfMemory[] = "内存不足。";
// The beat review.
inline constexpr char kReviewedTitle[] = "%1 [已审核]";
inline constexpr char kModifiedTitle[] = "%1 *";
inline constexpr char kReviewLoaded[] = "已载入审核：%1";
inline constexpr char kReviewForeign[] = "审核文件 %1 不属于这个记录（长度或校验和不同），未应用，文件保持原样。";
inline constexpr char kReviewDamaged[] = "审核文件 %1 已损坏或无法识别，未应用，文件保持原样。";
inline constexpr char kReviewSaved[] = "审核已保存：%1";
inline constexpr char kReviewKeepsOther[] = "%1 不是这个记录的审核，为保留它不会被覆盖";
inline constexpr char kReviewSaveFailed[] = "无法保存审核：%1\n\n是否另存为其他位置？";
inline constexpr char kReviewSaveAsTitle[] = "另存为";
inline constexpr char kReviewSaveAsFilter[] = "WFDB 注释文件 (*.atr)";
inline constexpr char kReviewAskSave[] = "%1 的心搏审核尚未保存。是否保存？";
inline constexpr char kTemplateCaption[] = "%1  %2 个";
inline constexpr char kTemplateSplitCaption[] = "%1  %2 个（拆分）";
inline constexpr char kTemplateRelabel[] = "将整族改标为";
inline constexpr char kTemplateNext[] = "逐个查看";
inline constexpr char kTemplateSplit[] = "从所选心搏拆分";

// Font faces; the Qt layers map them to the installed CJK faces.
inline constexpr char kFaceSong[] = "宋体";
inline constexpr char kFaceHei[] = "黑体";

}  // namespace Text

#undef VITREL_RESULT_VALUES_FIRST_SIX
