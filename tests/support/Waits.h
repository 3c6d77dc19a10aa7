#pragma once

#include <QSignalSpy>
#include <QTimer>

namespace tarvik::test {

// Runs the event loop until ticks intervals of timer have passed, measured by a
// timer of the same interval and kind started now. Timers fire in the order
// they fall due, so any tick timer would have made by then (were it running)
// has been delivered first: a check that it made none tests something however
// slow the machine is. False if the measuring timer never fired.
inline bool waitPastTicks(const QTimer& timer, int ticks = 1)
{
    QTimer marker;
    marker.setTimerType(timer.timerType());
    marker.setInterval(timer.interval());
    QSignalSpy fired(&marker, &QTimer::timeout);
    marker.start();
    while (fired.size() < ticks) {
        if (!fired.wait(60000))
            return false;
    }
    return true;
}

} // namespace tarvik::test
