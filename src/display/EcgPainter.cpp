#include "display/EcgPainter.h"

#include <QPainter>

#include "analysis/EcgDocument.h"

const QColor CEcgPainter::BACKGROUND_COLOR(0, 50, 50);
const QColor CEcgPainter::CAPTION_COLOR(0, 255, 255);
const QColor CEcgPainter::MAJOR_GRID_COLOR(0, 90, 90);
const QColor CEcgPainter::MINOR_GRID_COLOR(0, 60, 60);
const QColor CEcgPainter::TRACE_COLOR(240, 240, 0);
const QColor CEcgPainter::RMARK_COLOR(0, 200, 200);

CEcgPainter::CEcgPainter() = default;
CEcgPainter::~CEcgPainter() = default;
void CEcgPainter::DrawStrip(CEcgDocument*, QPainter*, int, int, bool) {}
void CEcgPainter::DrawTimeLabels(CEcgDocument*, int) {}
void CEcgPainter::PaintTimeLabels(QPainter*) const {}
void CEcgPainter::ClearTimeLabels() {}
void CEcgPainter::DrawMinorGrid(QPainter*, int, int, int, int, int, float) {}
void CEcgPainter::DrawMajorGrid(QPainter*, int, int, int, int, int, float) {}
int CEcgPainter::StatusBandHeight(const CEcgDocument*) { return 25; }
QString CEcgPainter::FormatZoomCaption(float) { return {}; }
QFont CEcgPainter::MakeCellHeightFont(const QStringList&, int) { return {}; }
