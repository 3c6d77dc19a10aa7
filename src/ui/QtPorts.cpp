#include "ui/QtPorts.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QThread>

namespace tarvik {

MessageAnswer QtDialogs::showMessage(const QString& text, const QString& title,
                                     MessageButtons buttons, MessageIcon icon)
{
    QMessageBox box(m_owner);
    box.setWindowTitle(title);
    box.setText(text);
    switch (icon) {
    case MessageIcon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case MessageIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case MessageIcon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case MessageIcon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    }
    if (buttons == MessageButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        // Only Yes or No answers the question: no close button. Escape, or
        // closing the box some other way, answers No, which changes nothing.
        box.setWindowFlags((box.windowFlags() | Qt::CustomizeWindowHint) &
                           ~Qt::WindowCloseButtonHint);
        box.exec();
        return box.clickedButton() == box.button(QMessageBox::Yes) ? MessageAnswer::Yes
                                                                   : MessageAnswer::No;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return MessageAnswer::Ok;
}

QString QtDialogs::openFile(const QString& filter)
{
    return QDir::toNativeSeparators(
        QFileDialog::getOpenFileName(m_owner, QString(), QString(), filter));
}

QString QtDialogs::browseForFolder(const QString& title)
{
    // No owner window, as the export set-up asks for it.
    return QDir::toNativeSeparators(QFileDialog::getExistingDirectory(nullptr, title));
}

void QtEventPump::pause(int milliseconds)
{
    QDeadlineTimer deadline(milliseconds);
    do {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents,
                                        int(qMax<qint64>(0, deadline.remainingTime())));
        if (!deadline.hasExpired())
            QThread::msleep(qMin<qint64>(5, deadline.remainingTime()));
    } while (!deadline.hasExpired());
}

void QtEventPump::repaint()
{
    if (m_sinceRepaint.isValid() && m_sinceRepaint.elapsed() < 40)
        return;
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    m_sinceRepaint.start();
}

} // namespace tarvik
