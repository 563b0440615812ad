// Texts of the printed report, by string-table id. Format strings are used
// with snprintf on UTF-8, so they stay plain char strings.
#pragma once

namespace ReportStrings {
inline constexpr const char* kSummaryTitle = "心电分析报告";                                   // 127
inline constexpr const char* kEventTitle = "心电分析报告 (25mm/s, 10mm/mV)";                   // 134
inline constexpr const char* kAbnormalCaption = "异常波形数据，发生时间：%04d-%02d-%02d %02d:%02d:%02d";  // 135
inline constexpr const char* kMinRateCaption = "最小心率，发生时间：%04d-%02d-%02d %02d:%02d:%02d";      // 136
inline constexpr const char* kMaxRateCaption = "最大心率，发生时间：%04d-%02d-%02d %02d:%02d:%02d";      // 137
inline constexpr const char* kResultHeading = "【分析结果】";                                  // 138
inline constexpr const char* kNote = "* 注：以上结果仅供参考";                                   // 139
inline constexpr const char* kResultLabels =                                                   // 140
    "心率\r\n\r\n\r\nR 波幅度\r\n\r\n\r\nP 波幅度\r\n\r\n\r\nT 波幅度\r\n\r\n\r\n"
    "RR 间期\r\n\r\n\r\nPR 间期\r\n\r\n\r\nQT/QTc 间期";
inline constexpr const char* kResultValues =                                                   // 141
    "%.01f bpm %s\r\n(60～100 bpm)　\r\n\r\n"
    "%.02f mV %s\r\n(0.5～2.0 mV)　\r\n\r\n"
    "%.02f mV %s\r\n(0～0.25 mV)　\r\n\r\n"
    "%.02f mV %s\r\n(0.1～0.5 mV)　\r\n\r\n"
    "%d ms %s\r\n(600～1000 ms)　\r\n\r\n"
    "%d ms %s\r\n(120～200 ms)　\r\n\r\n"
    "%d/%d ms %s\r\n(340～430 ms)　";
// The same with the QTc number replaced by "-" (no positive mean RR: no QTc).
inline constexpr const char* kResultValuesNoQTc =
    "%.01f bpm %s\r\n(60～100 bpm)　\r\n\r\n"
    "%.02f mV %s\r\n(0.5～2.0 mV)　\r\n\r\n"
    "%.02f mV %s\r\n(0～0.25 mV)　\r\n\r\n"
    "%.02f mV %s\r\n(0.1～0.5 mV)　\r\n\r\n"
    "%d ms %s\r\n(600～1000 ms)　\r\n\r\n"
    "%d ms %s\r\n(120～200 ms)　\r\n\r\n"
    "%d/- ms %s\r\n(340～430 ms)　";
inline constexpr const char* kLegend = "%dmm/s\r\n%dmm/mV";                                    // 142
inline constexpr const char* kStripCaption = "%ds～%ds";                                       // 143
inline constexpr const char* kInfoHeading = "【基本信息】";                                    // 144
inline constexpr const char* kInfoLabels = "测量时间\r\n\r\n记录长度";                          // 145
inline constexpr const char* kInfoValues = "%04d-%02d-%02d %02d:%02d:%02d\r\n\r\n%d s";         // 146
inline constexpr const char* kPageLabel = "第 %d 页，共 %d 页";
inline constexpr const char* kFooterTime = "%Y-%m-%d %H:%M:%S";

inline constexpr const char* kMarkBelow = "↓";
inline constexpr const char* kMarkAbove = "↑";
inline constexpr const char* kMarkNormal = "　";
}  // namespace ReportStrings
