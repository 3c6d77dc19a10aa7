#include "ui/TitleBar.h"

#include "ui/Artwork.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QToolButton>
#include <QWindow>

namespace tarvik {

namespace {

QIcon glyph(bool close)
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::white, 2));
    if (close) {
        p.drawLine(QPointF(4, 4), QPointF(12, 12));
        p.drawLine(QPointF(12, 4), QPointF(4, 12));
    } else {
        p.drawLine(QPointF(4, 12), QPointF(12, 12));
    }
    return QIcon(pm);
}

QToolButton* makeButton(QWidget* parent, const QString& name, bool close)
{
    auto* b = new QToolButton(parent);
    b->setObjectName(name);
    b->setIcon(glyph(close));
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);
    b->setToolTip(QString());
    b->setStyleSheet(close ? QStringLiteral("QToolButton{border:none;background:transparent}"
                                            "QToolButton:hover{background:#c42b1c}")
                           : QStringLiteral("QToolButton{border:none;background:transparent}"
                                            "QToolButton:hover{background:rgba(255,255,255,60)}"));
    return b;
}

} // namespace

TitleBar::TitleBar(QWidget* parent)
    : QWidget(parent), m_minimize(makeButton(this, QStringLiteral("TitleBarMinimize"), false)),
      m_close(makeButton(this, QStringLiteral("TitleBarClose"), true))
{
    setObjectName(QStringLiteral("TitleBar"));
    m_minimize->setGeometry(696 - 2 * 34, 0, 34, 30);
    m_close->setGeometry(696 - 34, 0, 34, 30);
    connect(m_minimize, &QToolButton::clicked, this, [this] {
        if (m_window)
            m_window->showMinimized();
    });
    connect(m_close, &QToolButton::clicked, this, [this] {
        if (m_window)
            m_window->close();
    });
}

void TitleBar::attach(QWidget* window, bool frameless)
{
    m_window = window;
    if (frameless) {
        window->setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint |
                               Qt::WindowSystemMenuHint);
    }
    const int w = width();
    m_minimize->move(w - 2 * 34, 0);
    m_close->move(w - 34, 0);
}

QString TitleBar::caption() const
{
    return m_window ? m_window->windowTitle() : QString();
}

void TitleBar::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    QLinearGradient g(0, 0, 0, height());
    g.setColorAt(0, QColor(34, 78, 170));
    g.setColorAt(1, QColor(10, 36, 106));
    p.fillRect(rect(), g);
    const QIcon icon = m_window ? m_window->windowIcon() : QIcon();
    icon.paint(&p, QRect(7, 7, 16, 16));
    p.setFont(art::trebuchet(9.75, true));
    p.setPen(Qt::white);
    // The caption's text begins 7 pixels below the top edge.
    p.drawText(QRect(30, 7, width() - 30 - 2 * 34, height() - 7), Qt::AlignLeft | Qt::AlignTop,
               caption());
}

void TitleBar::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_window)
        return;
    QWindow* handle = m_window->windowHandle();
    if (handle && handle->startSystemMove())
        return;
    m_dragging = true;
    m_dragOffset = event->globalPosition().toPoint() - m_window->frameGeometry().topLeft();
}

void TitleBar::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragging && m_window)
        m_window->move(event->globalPosition().toPoint() - m_dragOffset);
}

void TitleBar::mouseReleaseEvent(QMouseEvent*)
{
    m_dragging = false;
}

void TitleBar::mouseDoubleClickEvent(QMouseEvent* event)
{
    // A double click maximizes a framed window; this window may not be.
    event->accept();
}

} // namespace tarvik
