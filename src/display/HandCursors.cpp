#include "display/HandCursors.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

QPainterPath HandPath(bool closed)
{
    QPainterPath hand;
    hand.setFillRule(Qt::WindingFill);
    // Palm.
    hand.addRoundedRect(QRectF(7.5, 13.5, 16, 12), 4, 4);
    hand.addRect(QRectF(9.5, 22.5, 12, 6));
    // Four fingers: long and spread when open, short knuckles when closed.
    const double top = closed ? 9.5 : 3.5;
    const double xs[] = {7.5, 11.5, 15.5, 19.5};
    const double lift[] = {2.0, 0.0, 0.5, 2.5};
    for (int i = 0; i < 4; ++i)
        hand.addRoundedRect(QRectF(xs[i], top + (closed ? 0 : lift[i]), 4, (closed ? 7 : 13 - lift[i])), 2, 2);
    // Thumb.
    QPainterPath thumb;
    if (closed)
        thumb.addRoundedRect(QRectF(4.5, 14.5, 6, 4), 2, 2);
    else
        thumb.addRoundedRect(QRectF(2.5, 12.5, 8, 4), 2, 2);
    return hand.united(thumb);
}

}  // namespace

QPixmap HandCursorPixmap(bool closed)
{
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(Qt::black, 1.0));
    p.setBrush(Qt::white);
    p.drawPath(HandPath(closed).simplified());
    // Finger separations.
    p.setPen(QPen(QColor(0, 0, 0, 160), 1.0));
    const double y0 = closed ? 12.0 : 9.0;
    for (double x : {11.5, 15.5, 19.5})
        p.drawLine(QPointF(x, y0), QPointF(x, 17.0));
    return pm;
}

QCursor MakeOpenHandCursor()
{
    return QCursor(HandCursorPixmap(false), 10, 8);
}

QCursor MakeClosedHandCursor()
{
    return QCursor(HandCursorPixmap(true), 11, 9);
}
