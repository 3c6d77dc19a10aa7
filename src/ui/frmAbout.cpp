#include "ui/frmAbout.h"

#include "base/AppIdentity.h"
#include "ui/Artwork.h"
#include "ui/Placement.h"

#include <QKeyEvent>
#include <QPainter>
#include <QShowEvent>

namespace tarvik {

frmAbout::frmAbout(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About - ") + identity::vendor + QLatin1Char(' ') +
                   identity::applicationTitle);
    setFixedSize(541, 209);
}

void frmAbout::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    centreOnOwner(this);
}

void frmAbout::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    art::drawBanner(p, rect(),
                    {identity::aboutVersion, identity::webAddress,
                     QStringLiteral("Email : ") + identity::infoEmail});
}

void frmAbout::keyPressEvent(QKeyEvent* event)
{
    // The window has no buttons: only its close button or the system's close
    // key ends it, not Escape.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace tarvik
