#pragma once

#include "ui/frmSplash.h"

#include <memory>

namespace tarvik {

class frmMain;

// Start-up: the splash first, then the one main window. Owns both windows for
// the whole run, so neither is destroyed while one of its handlers still runs.
class StartUp : public SplashHost {
public:
    // The factory makes the main window; it is called once, on first show.
    using MainFactory = std::function<std::unique_ptr<frmMain>()>;

    StartUp(MainFactory makeMain, int pauseMilliseconds = 4000,
            frmSplash::Pause pause = frmSplash::eventLoopPause());
    ~StartUp() override;

    void start();

    void showMainWindow() override;
    void unloadSplash() override;

    frmSplash* splash() const { return m_splash.get(); }
    frmMain* mainWindow() const { return m_main.get(); }
    int mainWindowShows() const { return m_mainShows; }
    int splashUnloads() const { return m_splashUnloads; }

private:
    MainFactory m_makeMain;
    std::unique_ptr<frmMain> m_main;
    std::unique_ptr<frmSplash> m_splash;
    int m_mainShows = 0;
    int m_splashUnloads = 0;
};

} // namespace tarvik
