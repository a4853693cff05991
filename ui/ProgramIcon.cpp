#include "ui/ProgramIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "ui/DesktopIdentity.h"

namespace kyvo {

namespace {

// The icon file's picture on a 128-unit grid: a blue tile with a black
// screen showing a grey line profile outlined in red and two yellow borders.
QPixmap drawIcon(int size) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 128.0, size / 128.0);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1f, 0x4e, 0x8c));
    p.drawRoundedRect(QRectF(8, 8, 112, 112), 18, 18);
    p.setBrush(Qt::black);
    p.drawRoundedRect(QRectF(20, 24, 88, 62), 6, 6);
    QPainterPath profile;
    const QPointF points[] = {{20, 52}, {34, 50}, {44, 51}, {50, 80},  {56, 52},  {70, 50},
                              {78, 51}, {84, 72}, {90, 52}, {108, 50}, {108, 86}, {20, 86}};
    profile.moveTo(points[0]);
    for (const QPointF& pt : points) profile.lineTo(pt);
    profile.closeSubpath();
    p.setBrush(QColor(0x80, 0x80, 0x80));
    p.setPen(QPen(QColor(0xff, 0x20, 0x20), 1.5));
    p.drawPath(profile);
    p.setPen(QPen(QColor(0xff, 0xff, 0x00), 1.5));
    p.drawLine(QPointF(46, 30), QPointF(46, 86));
    p.drawLine(QPointF(54, 30), QPointF(54, 86));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xb0, 0xca, 0xff));
    p.drawRoundedRect(QRectF(28, 94, 72, 14), 4, 4);
    return pm;
}

}  // namespace

QIcon programIcon() {
    const QIcon themed = QIcon::fromTheme(QString::fromLatin1(kDesktopId));
    if (!themed.isNull() && !themed.availableSizes().isEmpty()) return themed;
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(drawIcon(size));
    return icon;
}

}  // namespace kyvo
