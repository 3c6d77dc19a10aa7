#include "ui/SmallIcons.h"

#include "app/SmallIconIndex.h"

#include <QPainter>
#include <QPainterPath>

namespace tarvik {

namespace {

using Painter = void (*)(QPainter&);

void envelope(QPainter& p, const QColor& paper, const QColor& line)
{
    p.setPen(line);
    p.setBrush(paper);
    p.drawRect(QRectF(1.5, 3.5, 13, 9));
    p.drawLine(QPointF(1.5, 3.5), QPointF(8, 9));
    p.drawLine(QPointF(14.5, 3.5), QPointF(8, 9));
}

void tray(QPainter& p, const QColor& colour)
{
    p.setPen(colour.darker(160));
    p.setBrush(colour);
    QPainterPath t;
    t.moveTo(1.5, 9.5);
    t.lineTo(5, 9.5);
    t.lineTo(6, 11.5);
    t.lineTo(10, 11.5);
    t.lineTo(11, 9.5);
    t.lineTo(14.5, 9.5);
    t.lineTo(14.5, 14.5);
    t.lineTo(1.5, 14.5);
    t.closeSubpath();
    p.drawPath(t);
}

void arrowUpDown(QPainter& p, bool down, const QColor& c)
{
    p.setPen(c.darker(150));
    p.setBrush(c);
    QPolygonF a;
    if (down)
        a << QPointF(6, 1) << QPointF(10, 1) << QPointF(10, 5) << QPointF(12.5, 5)
          << QPointF(8, 9.5) << QPointF(3.5, 5) << QPointF(6, 5);
    else
        a << QPointF(8, 0.5) << QPointF(12.5, 5) << QPointF(10, 5) << QPointF(10, 9)
          << QPointF(6, 9) << QPointF(6, 5) << QPointF(3.5, 5);
    p.drawPolygon(a);
}

void person(QPainter& p, qreal x, const QColor& c)
{
    p.setPen(c.darker(160));
    p.setBrush(c);
    p.drawEllipse(QRectF(x + 2, 1.5, 5, 5));
    p.drawRoundedRect(QRectF(x, 7.5, 9, 7), 3, 3);
}

void badge(QPainter& p, const QColor& c, const QString& letter)
{
    p.setPen(c.darker(160));
    p.setBrush(c);
    p.drawEllipse(QRectF(1, 1, 14, 14));
    p.setPen(Qt::white);
    QFont f;
    f.setPixelSize(11);
    f.setBold(true);
    p.setFont(f);
    p.drawText(QRect(0, 0, 16, 16), Qt::AlignCenter, letter);
}

void page(QPainter& p)
{
    p.setPen(QColor(110, 110, 110));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(2.5, 0.5, 10, 14));
    p.setPen(QColor(150, 170, 200));
    for (int y = 4; y <= 11; y += 2)
        p.drawLine(5, y, 10, y);
}

void drawNotes(QPainter& p)
{
    p.setPen(QColor(120, 80, 0));
    p.setBrush(QColor(250, 200, 40));
    p.drawRect(QRectF(2.5, 3.5, 11, 9));
    p.drawEllipse(QRectF(2.5, 10, 11, 5));
    p.setBrush(QColor(255, 235, 140));
    p.drawEllipse(QRectF(2.5, 1, 11, 5));
    p.setPen(QColor(30, 60, 160));
    QFont f;
    f.setPixelSize(8);
    f.setBold(true);
    p.setFont(f);
    p.drawText(QRect(2, 5, 12, 9), Qt::AlignCenter, QStringLiteral("N"));
}

void drawContact(QPainter& p)
{
    person(p, 3.5, QColor(80, 140, 220));
}

void draw264(QPainter& p)
{
    page(p);
    p.setPen(QColor(200, 60, 60));
    p.drawRect(QRectF(4.5, 2.5, 6, 3));
}

void drawTasks(QPainter& p)
{
    p.setPen(QColor(60, 60, 60));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(1.5, 2.5, 11, 11));
    p.setPen(QPen(QColor(20, 150, 40), 2));
    p.drawLine(QPointF(4, 8), QPointF(7, 11));
    p.drawLine(QPointF(7, 11), QPointF(14, 2));
}

void drawMail(QPainter& p)
{
    envelope(p, QColor(255, 250, 220), QColor(120, 100, 40));
}

void drawCal(QPainter& p)
{
    p.setPen(QColor(90, 90, 90));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(1.5, 2.5, 13, 12));
    p.fillRect(QRectF(2, 3, 12, 3), QColor(200, 40, 40));
    p.setPen(QColor(150, 150, 150));
    for (int x = 5; x < 14; x += 3)
        p.drawLine(x, 7, x, 14);
    p.drawLine(2, 10, 14, 10);
}

void drawContacts(QPainter& p)
{
    person(p, 0.5, QColor(90, 170, 90));
    person(p, 6.5, QColor(80, 140, 220));
}

void drawJournal(QPainter& p)
{
    p.setPen(QColor(90, 40, 10));
    p.setBrush(QColor(170, 90, 40));
    p.drawRect(QRectF(2.5, 1.5, 11, 13));
    p.fillRect(QRectF(3, 2, 2, 12), QColor(110, 50, 20));
    p.setPen(QColor(255, 220, 160));
    p.drawLine(7, 5, 12, 5);
    p.drawLine(7, 7, 12, 7);
}

void drawHelp(QPainter& p)
{
    badge(p, QColor(40, 100, 210), QStringLiteral("?"));
}

void drawLoad(QPainter& p)
{
    p.setPen(QPen(QColor(30, 130, 60), 2));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(2, 2, 12, 12), 90 * 16, 270 * 16);
    p.setBrush(QColor(30, 130, 60));
    p.setPen(Qt::NoPen);
    const QPointF head[] = {{8, 0}, {12, 2.5}, {8, 5}};
    p.drawPolygon(head, 3);
}

void drawOpenFile(QPainter& p)
{
    p.setPen(QColor(150, 110, 20));
    p.setBrush(QColor(240, 200, 80));
    p.drawRect(QRectF(0.5, 3.5, 12, 10));
    p.setBrush(QColor(255, 230, 140));
    const QPointF lid[] = {{3, 7.5}, {15.5, 7.5}, {12.5, 13.5}, {0.5, 13.5}};
    p.drawPolygon(lid, 4);
}

void drawPreview(QPainter& p)
{
    page(p);
    p.setPen(QPen(QColor(40, 40, 40), 1.5));
    p.setBrush(QColor(180, 220, 255, 180));
    p.drawEllipse(QRectF(6, 6, 6, 6));
    p.drawLine(QPointF(11.5, 11.5), QPointF(15, 15));
}

void drawAbouts(QPainter& p)
{
    badge(p, QColor(30, 140, 160), QStringLiteral("i"));
}

void drawDrafts(QPainter& p)
{
    page(p);
    p.setPen(QColor(120, 60, 0));
    p.setBrush(QColor(250, 180, 40));
    const QPointF pencil[] = {{14.5, 4}, {16, 5.5}, {8, 13.5}, {6, 14}, {6.5, 12}};
    p.drawPolygon(pencil, 5);
}

void drawTrash(QPainter& p)
{
    p.setPen(QColor(70, 70, 80));
    p.setBrush(QColor(170, 175, 190));
    p.drawRect(QRectF(3.5, 4.5, 9, 10));
    p.drawRect(QRectF(2.5, 2.5, 11, 2));
    p.drawRect(QRectF(6.5, 0.5, 3, 2));
    p.drawLine(6, 6, 6, 13);
    p.drawLine(10, 6, 10, 13);
}

void drawInbox(QPainter& p)
{
    tray(p, QColor(110, 160, 230));
    arrowUpDown(p, true, QColor(40, 170, 60));
}

void drawJunk(QPainter& p)
{
    envelope(p, QColor(235, 235, 235), QColor(110, 110, 110));
    p.setPen(QPen(QColor(210, 30, 30), 1.6));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(5.5, 5.5, 10, 10));
    p.drawLine(QPointF(7, 14), QPointF(14, 7));
}

void drawOutbox(QPainter& p)
{
    tray(p, QColor(230, 170, 90));
    arrowUpDown(p, false, QColor(30, 110, 210));
}

void drawEmail(QPainter& p)
{
    p.setPen(QColor(150, 110, 20));
    p.setBrush(QColor(250, 210, 90));
    p.drawRect(QRectF(0.5, 3.5, 15, 11));
    p.drawRect(QRectF(0.5, 1.5, 6, 2));
    p.setPen(QColor(60, 90, 150));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(5.5, 7.5, 8, 5));
    p.drawLine(QPointF(5.5, 7.5), QPointF(9.5, 10.5));
    p.drawLine(QPointF(13.5, 7.5), QPointF(9.5, 10.5));
}

void drawFollowUp(QPainter& p)
{
    p.setPen(QPen(QColor(60, 60, 60), 1.5));
    p.drawLine(QPointF(3, 1), QPointF(3, 15));
    p.setPen(QColor(150, 0, 0));
    p.setBrush(QColor(230, 30, 30));
    const QPointF flag[] = {{3.5, 1.5}, {14, 4.5}, {3.5, 8.5}};
    p.drawPolygon(flag, 3);
}

struct Keyed {
    int number; // 1-based, as the image list numbers its pictures
    const char* key;
    Painter paint;
};

const Keyed keyed[] = {
    {1, "Notesico", drawNotes},     {54, "Contact", drawContact},    {55, "264", draw264},
    {56, "tasks", drawTasks},       {57, "mail", drawMail},          {58, "cal", drawCal},
    {59, "contacts", drawContacts}, {60, "journal", drawJournal},    {61, "Help", drawHelp},
    {62, "Load", drawLoad},         {63, "OpenFile", drawOpenFile},  {64, "Preview", drawPreview},
    {65, "Abouts", drawAbouts},     {66, "drafts", drawDrafts},      {67, "trash", drawTrash},
    {68, "inbox", drawInbox},       {69, "junk", drawJunk},          {70, "outbox", drawOutbox},
    {71, "email", drawEmail},       {72, "follow-up", drawFollowUp},
};

// Images without a key: small tiles whose hue and mark vary with the number.
QPixmap plainImage(int number)
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor c = QColor::fromHsv((number * 37) % 360, 150, 210);
    p.setPen(c.darker(170));
    p.setBrush(c);
    p.drawRoundedRect(QRectF(1.5, 1.5, 13, 13), 3, 3);
    p.setPen(Qt::white);
    QFont f;
    f.setPixelSize(8);
    p.setFont(f);
    p.drawText(QRect(0, 0, 16, 16), Qt::AlignCenter, QString::number(number));
    return pm;
}

} // namespace

SmallIcons::SmallIcons()
{
    m_images.reserve(icon::Count);
    for (int n = 1; n <= icon::Count; ++n) {
        m_images.append(plainImage(n));
        m_keys.append(QString());
    }
    for (const Keyed& k : keyed) {
        QPixmap pm(16, 16);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        k.paint(p);
        p.end();
        m_images[k.number - 1] = pm;
        m_keys[k.number - 1] = QString::fromLatin1(k.key);
    }
}

QPixmap SmallIcons::pixmap(int index) const
{
    if (index < 0 || index >= m_images.size())
        return {};
    return m_images.at(index);
}

QString SmallIcons::key(int index) const
{
    return index >= 0 && index < m_keys.size() ? m_keys.at(index) : QString();
}

int SmallIcons::indexOf(const QString& key) const
{
    return int(m_keys.indexOf(key));
}

const SmallIcons& smallIcons()
{
    static const SmallIcons icons;
    return icons;
}

} // namespace tarvik
