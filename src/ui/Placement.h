#pragma once

class QWidget;

namespace tarvik {

// Places a top-level window at the centre of its screen.
void centreOnScreen(QWidget* window);

// Places a dialog at the centre of its owner window. Called once the dialog
// is shown, when its frame is known: Qt's own placement guesses the frame's
// size before that and misses the centre by as much.
void centreOnOwner(QWidget* dialog);

} // namespace tarvik
