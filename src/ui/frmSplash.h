#pragma once

#include <QTimer>
#include <QWidget>

#include <functional>

namespace tarvik {

// What the splash hands over to: showing the main window and unloading the
// splash. Both are safe to call more than once.
class SplashHost {
public:
    virtual ~SplashHost() = default;
    virtual void showMainWindow() = 0;
    virtual void unloadSplash() = 0;
};

// The start-up window: one drawn picture, a pause, then the main window. A
// character key ends it at once.
class frmSplash : public QWidget {
    Q_OBJECT

public:
    // pause blocks for the given milliseconds while keeping the window painted
    // and letting keys through.
    using Pause = std::function<void(int milliseconds)>;

    frmSplash(SplashHost& host, int pauseMilliseconds, Pause pause, QWidget* parent = nullptr);

    // The timer's hand-over: pause, show the main window, unload the splash.
    void Timer1_Timer();
    // The key hand-over: unload the splash, show the main window.
    void Form_KeyPress(int keyAscii);

    QTimer& timer() { return m_timer1; }
    static Pause eventLoopPause();

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    SplashHost& m_host;
    int m_pauseMilliseconds;
    Pause m_pause;
    QTimer m_timer1;
};

} // namespace tarvik
