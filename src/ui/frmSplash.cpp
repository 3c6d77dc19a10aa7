#include "ui/frmSplash.h"

#include "base/AppIdentity.h"
#include "ui/Artwork.h"

#include <QEventLoop>
#include <QKeyEvent>
#include <QPainter>

namespace tarvik {

frmSplash::frmSplash(SplashHost& host, int pauseMilliseconds, Pause pause, QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint), m_host(host),
      m_pauseMilliseconds(pauseMilliseconds), m_pause(std::move(pause))
{
    setObjectName(QStringLiteral("frmSplash"));
    setWindowTitle(identity::applicationTitle);
    setWindowIcon(art::productIcon());
    setFixedSize(541, 209);
    setFocusPolicy(Qt::StrongFocus);
    // Closing the splash hands over to the main window; it never ends the run.
    setAttribute(Qt::WA_QuitOnClose, false);
    m_timer1.setObjectName(QStringLiteral("Timer1"));
    m_timer1.setInterval(10);
    connect(&m_timer1, &QTimer::timeout, this, &frmSplash::Timer1_Timer);
}

frmSplash::Pause frmSplash::eventLoopPause()
{
    return [](int ms) {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    };
}

void frmSplash::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    activateWindow();
    setFocus();
    m_timer1.start();
}

void frmSplash::Timer1_Timer()
{
    // The hand-over runs once; the pause below may run the event loop, and a
    // repeating timer must not enter here again meanwhile.
    m_timer1.stop();
    m_pause(m_pauseMilliseconds);
    m_host.showMainWindow();
    m_host.unloadSplash();
}

void frmSplash::Form_KeyPress(int /*keyAscii*/)
{
    m_host.unloadSplash();
    m_host.showMainWindow();
}

void frmSplash::keyPressEvent(QKeyEvent* event)
{
    // Only keys that produce a character end the splash; arrows, function
    // keys and modifiers alone do not.
    const QString text = event->text();
    if (text.isEmpty()) {
        QWidget::keyPressEvent(event);
        return;
    }
    Form_KeyPress(text.at(0).unicode());
}

void frmSplash::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    art::drawBanner(p, rect(), {QStringLiteral("Please wait... Loading required files...")});
}

} // namespace tarvik
