#include "ui/Artwork.h"

#include "base/AppIdentity.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace tarvik::art {

namespace {

QFont face(const QStringList& families, qreal pointSize, bool bold)
{
    QFont f;
    f.setFamilies(families);
    f.setPointSizeF(pointSize);
    f.setBold(bold);
    f.setStyleHint(QFont::SansSerif);
    return f;
}

// The product mark: a blue tile with a white envelope and an orange arrow
// leaving it, drawn into a square of side s.
void drawMark(QPainter& p, const QRectF& r)
{
    const qreal s = r.width();
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(r.topLeft());
    QLinearGradient tile(0, 0, 0, s);
    tile.setColorAt(0, QColor(58, 110, 200));
    tile.setColorAt(1, QColor(12, 40, 120));
    p.setPen(QPen(QColor(8, 24, 80), qMax<qreal>(1, s / 32)));
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(0.5, 0.5, s - 1, s - 1), s / 6, s / 6);

    const QRectF env(s * 0.16, s * 0.30, s * 0.56, s * 0.40);
    p.setPen(QPen(QColor(30, 60, 130), qMax<qreal>(1, s / 40)));
    p.setBrush(Qt::white);
    p.drawRect(env);
    QPainterPath flap;
    flap.moveTo(env.topLeft());
    flap.lineTo(env.center().x(), env.top() + env.height() * 0.55);
    flap.lineTo(env.topRight());
    p.setBrush(Qt::NoBrush);
    p.drawPath(flap);

    QPainterPath arrowPath;
    const qreal y = s * 0.62;
    arrowPath.moveTo(s * 0.52, y - s * 0.07);
    arrowPath.lineTo(s * 0.70, y - s * 0.07);
    arrowPath.lineTo(s * 0.70, y - s * 0.17);
    arrowPath.lineTo(s * 0.90, y);
    arrowPath.lineTo(s * 0.70, y + s * 0.17);
    arrowPath.lineTo(s * 0.70, y + s * 0.07);
    arrowPath.lineTo(s * 0.52, y + s * 0.07);
    arrowPath.closeSubpath();
    p.setPen(QPen(QColor(150, 60, 0), qMax<qreal>(1, s / 48)));
    p.setBrush(QColor(255, 150, 20));
    p.drawPath(arrowPath);
    p.restore();
}

} // namespace

QFont tahoma(qreal pointSize, bool bold)
{
    return face({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans")}, pointSize, bold);
}

QFont verdana(qreal pointSize, bool bold)
{
    return face({QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans")}, pointSize, bold);
}

QFont trebuchet(qreal pointSize, bool bold)
{
    return face(
        {QStringLiteral("Trebuchet MS"), QStringLiteral("DejaVu Sans"), QStringLiteral("Tahoma")},
        pointSize, bold);
}

QFont msSansSerif(qreal pointSize)
{
    return face(
        {QStringLiteral("MS Sans Serif"), QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans")},
        pointSize, false);
}

QColor darkBlue()
{
    return QColor(0, 0, 128);
}

QIcon productIcon()
{
    QIcon icon;
    for (int s : {16, 24, 32, 48, 64, 128}) {
        QPixmap pm(s, s);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        drawMark(p, QRectF(0, 0, s, s));
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}

QPixmap productLogo(const QSize& size)
{
    QPixmap pm(size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    const qreal s = qMin(size.width(), size.height());
    drawMark(p, QRectF((size.width() - s) / 2, (size.height() - s) / 2, s, s));
    return pm;
}

QPixmap arrow()
{
    QPixmap pm(10, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(120, 40, 0), 1));
    p.setBrush(QColor(230, 90, 20));
    const QPointF tri[] = {{1.5, 2.5}, {8.5, 8.0}, {1.5, 13.5}};
    p.drawPolygon(tri, 3);
    return pm;
}

QPixmap folder()
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setPen(QColor(150, 110, 20));
    p.setBrush(QColor(250, 210, 90));
    p.drawRect(1, 4, 13, 10);
    p.drawRect(1, 2, 5, 2);
    return pm;
}

QPixmap database()
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QColor(20, 50, 120));
    p.setBrush(QColor(90, 150, 230));
    p.drawRect(QRectF(2.5, 3.5, 11, 9));
    p.drawEllipse(QRectF(2.5, 10.0, 11, 5));
    p.setBrush(QColor(170, 205, 250));
    p.drawEllipse(QRectF(2.5, 1.0, 11, 5));
    return pm;
}

void drawBanner(QPainter& p, const QRect& rect, const QStringList& bottomLines)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QLinearGradient bg(rect.topLeft(), rect.bottomRight());
    bg.setColorAt(0, QColor(10, 30, 90));
    bg.setColorAt(0.6, QColor(16, 52, 140));
    bg.setColorAt(1, QColor(6, 20, 70));
    p.fillRect(rect, bg);
    QRadialGradient glow(rect.left() + rect.width() * 0.8, rect.top() + rect.height() * 0.3,
                         rect.width() * 0.45);
    glow.setColorAt(0, QColor(90, 140, 255, 70));
    glow.setColorAt(1, QColor(90, 140, 255, 0));
    p.fillRect(rect, glow);
    p.setPen(QColor(120, 160, 240));
    p.drawRect(rect.adjusted(0, 0, -1, -1));

    // Tagline across the top, between typographic quotes.
    const QString tagline = QStringLiteral("\u201CPowerful Email Migration Tool to Export Lotus "
                                           "Notes Emails  to Outlook Express\u201D");
    p.setFont(tahoma(8.25, true));
    p.setPen(QColor(255, 214, 120));
    p.drawText(QRect(rect.left() + 10, rect.top() + 8, rect.width() - 20, 18), Qt::AlignCenter,
               tagline);
    p.setPen(QColor(120, 160, 240, 160));
    p.drawLine(rect.left() + 14, rect.top() + 30, rect.right() - 14, rect.top() + 30);

    // Product icon at the left, maker and product title beside it.
    drawMark(p, QRectF(rect.left() + 28, rect.top() + 52, 84, 84));
    p.setPen(QColor(200, 215, 255));
    p.setFont(verdana(9, true));
    p.drawText(QPoint(rect.left() + 138, rect.top() + 66), identity::vendor);
    p.setPen(Qt::white);
    p.setFont(verdana(30, true));
    p.drawText(QPoint(rect.left() + 134, rect.top() + 112), identity::applicationTitle);
    p.setFont(tahoma(8.25));
    p.setPen(QColor(200, 215, 255));
    p.drawText(QPoint(rect.left() + 138, rect.top() + 132), identity::description);

    // The bottom lines, stacked upwards from the bottom edge.
    p.setFont(tahoma(8.25, true));
    p.setPen(Qt::white);
    const int lineHeight = 15;
    int y = rect.bottom() - 10 - lineHeight * (int(bottomLines.size()) - 1);
    for (const QString& line : bottomLines) {
        p.drawText(QPoint(rect.left() + 138, y), line);
        y += lineHeight;
    }
    p.restore();
}

} // namespace tarvik::art
