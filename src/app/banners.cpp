#include "app/banners.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace vexo {

QPixmap DrawDonationBanner(int width, int height) {
    QPixmap pixmap(width, height);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, width, 0);
    g.setColorAt(0, QColor(255, 196, 57));
    g.setColorAt(1, QColor(255, 236, 170));
    p.fillRect(pixmap.rect(), g);
    p.setPen(QColor(0, 48, 135));
    QFont f("DejaVu Sans");
    f.setPixelSize(12);
    f.setBold(true);
    p.setFont(f);
    p.drawText(QRect(10, 0, width - 20, height), Qt::AlignVCenter | Qt::AlignLeft,
               "Like Vexograph? Support its development");
    f.setPixelSize(11);
    p.setFont(f);
    p.drawText(QRect(10, 0, width - 20, height), Qt::AlignVCenter | Qt::AlignRight,
               "Donate \u25B8");
    return pixmap;
}

QPixmap DrawAppBanner(int width, int height) {
    QPixmap pixmap(width, height);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, height);
    g.setColorAt(0, QColor(40, 44, 52));
    g.setColorAt(1, QColor(12, 14, 18));
    p.fillRect(pixmap.rect(), g);

    // The logo at the left end: a film frame around a crosshair, in the 37 x 37 square at 16, 16.
    QRectF logo(16, 16, 37, 37);
    p.setPen(QPen(QColor(214, 64, 46), 3));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(logo.adjusted(2, 2, -2, -2), 5, 5);
    p.setPen(QPen(QColor(240, 240, 240), 2));
    QPointF c = logo.center();
    p.drawEllipse(c, 9, 9);
    p.drawLine(QPointF(c.x() - 14, c.y()), QPointF(c.x() - 4, c.y()));
    p.drawLine(QPointF(c.x() + 4, c.y()), QPointF(c.x() + 14, c.y()));
    p.drawLine(QPointF(c.x(), c.y() - 14), QPointF(c.x(), c.y() - 4));
    p.drawLine(QPointF(c.x(), c.y() + 4), QPointF(c.x(), c.y() + 14));

    QFont title("DejaVu Sans");
    title.setPixelSize(26);
    title.setBold(true);
    p.setFont(title);
    p.setPen(QColor(245, 245, 245));
    p.drawText(QRect(68, 6, width - 76, 34), Qt::AlignVCenter | Qt::AlignLeft, "Vexograph");
    QFont sub("DejaVu Sans");
    sub.setPixelSize(11);
    p.setFont(sub);
    p.setPen(QColor(190, 196, 206));
    p.drawText(QRect(70, 38, width - 78, 18), Qt::AlignVCenter | Qt::AlignLeft,
               "game demos to AVI video with basically just one click");
    return pixmap;
}

} // namespace vexo
