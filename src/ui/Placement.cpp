#include "ui/Placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace tarvik {

void centreOnScreen(QWidget* window)
{
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect r = window->frameGeometry();
    r.moveCenter(screen->availableGeometry().center());
    window->move(r.topLeft());
}

void centreOnOwner(QWidget* dialog)
{
    if (QWidget* owner = dialog->parentWidget()) {
        QRect place = dialog->frameGeometry();
        place.moveCenter(owner->frameGeometry().center());
        dialog->move(place.topLeft());
    }
}

} // namespace tarvik
