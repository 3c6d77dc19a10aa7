#pragma once

#include <QDialog>

namespace tarvik {

// The about window: the product's banner with its version, web address and
// e-mail address, as one picture. Made anew for each showing.
class frmAbout : public QDialog {
    Q_OBJECT

public:
    // Shown at the centre of owner, which it blocks while shown.
    explicit frmAbout(QWidget* owner);

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
};

} // namespace tarvik
