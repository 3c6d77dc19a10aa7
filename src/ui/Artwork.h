#pragma once

#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QStringList>

class QPainter;

// The pictures and faces of the windows, all drawn in code so the project
// ships no binary artwork.
namespace tarvik::art {

// Faces, with the nearest free face where the designed one is missing.
QFont tahoma(qreal pointSize = 8.25, bool bold = false);
QFont verdana(qreal pointSize, bool bold);
QFont trebuchet(qreal pointSize, bool bold);
QFont msSansSerif(qreal pointSize = 8.25);

QColor darkBlue();

// The product icon in several sizes.
QIcon productIcon();
QPixmap productLogo(const QSize& size);

// The 10 x 16 arrow that marks the step in progress.
QPixmap arrow();
// A 16 x 16 folder and a 16 x 16 database picture.
QPixmap folder();
QPixmap database();

// The dark-blue banner of the splash and about windows. The bottom lines are
// "Please wait... Loading required files..." for the splash, and the version,
// web address and e-mail lines for the about window.
void drawBanner(QPainter& painter, const QRect& rect, const QStringList& bottomLines);

} // namespace tarvik::art
