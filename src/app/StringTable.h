// The application's user-visible texts, by string-table id where they have one.
#pragma once

#include <QString>

namespace Strings {
inline QString MainTitle() { return QStringLiteral("Kardel 心电分析软件 v1.8.5023"); }   // 128
inline QString DocTypeName() { return QStringLiteral("心电文件"); }                      // 129
inline QString ZoomCaption() { return QStringLiteral("心电图报告 - %.0f%%"); }           // 130
inline QString StatusStatistics() { return QStringLiteral("正在统计心律"); }             // 131
inline QString StatusDetecting() { return QStringLiteral("正在分析数据"); }              // 132
inline QString Idle() { return QStringLiteral("已就续"); }                               // 57345

// The waveform's scroll-bar menu.
inline QString ScrollHere() { return QStringLiteral("滚动至此"); }
inline QString ScrollLeftEdge() { return QStringLiteral("左边缘"); }
inline QString ScrollRightEdge() { return QStringLiteral("右边缘"); }
inline QString ScrollPageLeft() { return QStringLiteral("向左翻页"); }
inline QString ScrollPageRight() { return QStringLiteral("向右翻页"); }
inline QString ScrollLineLeft() { return QStringLiteral("向左滚动"); }
inline QString ScrollLineRight() { return QStringLiteral("向右滚动"); }

// The maker's lines: the About box and the report footer (string 147) share them.
inline QString MakerCompany() { return QStringLiteral("维特尔医疗电子有限公司"); }       // 147
inline QString MakerWeb() { return QStringLiteral("https://www.example.com/"); }
inline QString MakerPhone() { return QStringLiteral("电话：010-5550-0123"); }
inline QString MakerMail() { return QStringLiteral("support@example.com"); }
}  // namespace Strings
