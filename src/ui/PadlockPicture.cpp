#include "ui/PadlockPicture.h"

#include <QPainter>
#include <QPainterPath>
#include <QWidget>

#include <algorithm>

QPixmap PadlockPicture(const QWidget &widget)
{
    const int side = widget.fontMetrics().height();
    const qreal ratio = widget.devicePixelRatioF();
    QPixmap picture(QSize(side, side) * ratio);
    picture.setDevicePixelRatio(ratio);
    picture.fill(Qt::transparent);

    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor ink = widget.palette().color(QPalette::WindowText);
    // The shackle: an arch over the body's upper edge.
    const qreal pen = std::max<qreal>(1.5, side / 8.0);
    painter.setPen(QPen(ink, pen));
    const QRectF arch(side * 0.28, side * 0.08, side * 0.44, side * 0.56);
    QPainterPath shackle;
    shackle.moveTo(arch.left(), side * 0.5);
    shackle.lineTo(arch.left(), arch.center().y());
    shackle.arcTo(arch, 180, -180);
    shackle.lineTo(arch.right(), side * 0.5);
    painter.drawPath(shackle);
    // The body.
    painter.setPen(Qt::NoPen);
    painter.setBrush(ink);
    painter.drawRoundedRect(QRectF(side * 0.16, side * 0.45, side * 0.68, side * 0.5), side * 0.08, side * 0.08);
    return picture;
}
