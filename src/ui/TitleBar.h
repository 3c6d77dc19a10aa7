#pragma once

#include <QWidget>

class QToolButton;

namespace tarvik {

// The drawn title bar of a frameless window: icon, caption, minimize and close.
// Dragging it moves the window; the window manager keeps its part through
// startSystemMove, so snapping and multi-screen moves behave as usual.
class TitleBar : public QWidget {
    Q_OBJECT

public:
    explicit TitleBar(QWidget* parent = nullptr);

    // Takes over the window's frame: the window becomes frameless and this bar
    // carries its caption and buttons. A window without a frame of its own
    // cannot be maximized or resized by the window manager either.
    void attach(QWidget* window, bool frameless);
    void setMaximizeDisabled(bool disabled) { m_maximizeDisabled = disabled; }
    bool maximizeDisabled() const { return m_maximizeDisabled; }

    QString caption() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    QWidget* m_window = nullptr;
    QToolButton* m_minimize;
    QToolButton* m_close;
    bool m_maximizeDisabled = false;
    bool m_dragging = false;
    QPoint m_dragOffset;
};

} // namespace tarvik
