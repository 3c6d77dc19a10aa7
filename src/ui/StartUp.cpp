#include "ui/StartUp.h"

#include "ui/Placement.h"
#include "ui/frmMain.h"

namespace tarvik {

StartUp::StartUp(MainFactory makeMain, int pauseMilliseconds, frmSplash::Pause pause)
    : m_makeMain(std::move(makeMain)),
      m_splash(std::make_unique<frmSplash>(*this, pauseMilliseconds, std::move(pause)))
{}

StartUp::~StartUp() = default;

void StartUp::start()
{
    centreOnScreen(m_splash.get());
    m_splash->show();
}

void StartUp::showMainWindow()
{
    // The main window is made and shown once; a later request (the rest of the
    // timer's hand-over after a key ended the splash) changes nothing.
    if (m_mainShows > 0)
        return;
    m_main = m_makeMain();
    m_main->Form_Load();
    centreOnScreen(m_main.get());
    m_main->show();
    m_main->raise();
    m_main->activateWindow();
    ++m_mainShows;
}

void StartUp::unloadSplash()
{
    if (m_splashUnloads > 0)
        return;
    m_splash->timer().stop();
    m_splash->close();
    ++m_splashUnloads;
}

} // namespace tarvik
