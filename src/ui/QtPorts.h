#pragma once

#include "app/Ports.h"

#include <QElapsedTimer>

class QWidget;

namespace tarvik {

// Message boxes and pickers shown with Qt's dialogs.
class QtDialogs : public DialogPort {
public:
    explicit QtDialogs(QWidget* owner) : m_owner(owner) {}

    MessageAnswer showMessage(const QString& text, const QString& title, MessageButtons buttons,
                              MessageIcon icon) override;
    QString openFile(const QString& filter) override;
    QString browseForFolder(const QString& title) override;

private:
    QWidget* m_owner;
};

// Waits and repaints by running the event loop for everything but user input,
// so labels and pictures changed by long work are seen while no command can
// start in the middle of it.
class QtEventPump : public EventPump {
public:
    void pause(int milliseconds) override;
    // At most every few hundredths of a second: more is not seen, and long
    // work asks for a repaint after every step.
    void repaint() override;

private:
    QElapsedTimer m_sinceRepaint;
};

} // namespace tarvik
