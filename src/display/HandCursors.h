// The two 32 x 32 hand cursors of the waveform view, drawn in code.
#pragma once

#include <QCursor>

QCursor MakeOpenHandCursor();     // hot spot (10, 8)
QCursor MakeClosedHandCursor();   // hot spot (11, 9)
QPixmap HandCursorPixmap(bool closed);
