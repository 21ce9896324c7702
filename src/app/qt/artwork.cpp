#include "app/qt/artwork.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>

namespace corvane::app::qt {

namespace {

const QColor kInk(40, 40, 40);
const QColor kDevice(70, 78, 92);
const QColor kPlug(200, 200, 205);
const QColor kOff(200, 40, 40);
const QColor kOn(30, 140, 60);

// A small device box with its USB socket on top, centred at `centreX`.
void DrawDevice(QPainter& p, qreal centreX, qreal top) {
    const QRectF box(centreX - 22, top, 44, 22);
    p.setPen(QPen(kInk, 1));
    p.setBrush(kDevice);
    p.drawRoundedRect(box, 3, 3);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(box.left() + 8, box.center().y() + 3), 2.5, 2.5);
    p.drawEllipse(QPointF(box.right() - 8, box.center().y() + 3), 2.5, 2.5);
    p.setBrush(Qt::black);
    p.drawRect(QRectF(centreX - 5, top - 2, 10, 3));  // the socket
}

// A USB plug whose metal tip ends at `tipY`, the cable going up from it.
void DrawPlug(QPainter& p, qreal centreX, qreal tipY) {
    p.setPen(QPen(kInk, 1));
    p.setBrush(kPlug);
    p.drawRect(QRectF(centreX - 4, tipY - 6, 8, 6));  // metal tip
    p.setBrush(QColor(30, 30, 30));
    p.drawRoundedRect(QRectF(centreX - 6, tipY - 16, 12, 10), 2, 2);  // housing
    p.setPen(QPen(QColor(30, 30, 30), 2));
    p.drawLine(QPointF(centreX, tipY - 16), QPointF(centreX, 12));  // cable
}

// A thick arrow beside the plug, pointing up (pulled out) or down (pushed in).
void DrawArrow(QPainter& p, qreal x, qreal top, qreal bottom, bool up, const QColor& colour) {
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    const qreal headY = up ? top : bottom;
    const qreal baseY = up ? top + 7 : bottom - 7;
    p.drawRect(QRectF(x - 2, up ? baseY : top, 4, up ? bottom - baseY : baseY - top));
    p.drawPolygon(QPolygonF({QPointF(x - 6, baseY), QPointF(x + 6, baseY), QPointF(x, headY)}));
}

void DrawPanel(QPainter& p, const QRectF& panel, const QString& label, bool pluggedIn) {
    p.setPen(QPen(QColor(160, 160, 160), 1));
    p.setBrush(QColor(250, 250, 246));
    p.drawRect(panel.adjusted(0.5, 0.5, -0.5, -0.5));

    QFont font("Sans Serif");
    font.setPixelSize(10);
    font.setBold(true);
    p.setFont(font);
    p.setPen(pluggedIn ? kOn : kOff);
    p.drawText(QRectF(panel.left() + 3, panel.top() + 1, panel.width() - 6, 12),
               Qt::AlignLeft | Qt::AlignVCenter, label);

    const qreal centreX = panel.center().x() + 6;
    const qreal deviceTop = panel.bottom() - 26;
    DrawDevice(p, centreX, deviceTop);
    // Out: the tip hangs well above the socket. In: it sits inside it.
    DrawPlug(p, centreX, pluggedIn ? deviceTop + 1 : deviceTop - 14);
    DrawArrow(p, centreX - 24, panel.top() + 16, deviceTop - 6, !pluggedIn, pluggedIn ? kOn : kOff);
}

QPixmap DrawIconImage(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 48.0, size / 48.0);
    // A device box with a plug going in and a downward arrow: "write into".
    p.setPen(QPen(kInk, 2));
    p.setBrush(kDevice);
    p.drawRoundedRect(QRectF(6, 26, 36, 18), 4, 4);
    p.setBrush(QColor(120, 210, 255));
    p.drawRect(QRectF(12, 31, 14, 7));
    p.setBrush(kPlug);
    p.drawRect(QRectF(31, 18, 8, 8));
    p.setBrush(QColor(30, 30, 30));
    p.drawRect(QRectF(29, 6, 12, 12));
    p.setPen(Qt::NoPen);
    p.setBrush(kOn);
    p.drawRect(QRectF(13, 4, 6, 12));
    p.drawPolygon(QPolygonF({QPointF(8, 15), QPointF(24, 15), QPointF(16, 24)}));
    return pixmap;
}

}  // namespace

QImage DrawRestartPicture() {
    QImage image(kRestartPictureWidth, kRestartPictureHeight, QImage::Format_RGB888);
    image.fill(QColor(255, 255, 255));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal half = (kRestartPictureWidth - 1) / 2.0;
    DrawPanel(p, QRectF(0, 0, half, kRestartPictureHeight), "1. OFF", false);
    DrawPanel(p, QRectF(half + 1, 0, half, kRestartPictureHeight), "2. ON", true);
    return image;
}

QImage DrawApplicationIconImage(int size) {
    return DrawIconImage(size).toImage();
}

QIcon DrawApplicationIcon() {
    QIcon icon;
    for (int size : {48, 32, 16}) {
        icon.addPixmap(DrawIconImage(size));
    }
    return icon;
}

}  // namespace corvane::app::qt
