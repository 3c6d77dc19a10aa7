#pragma once

#include <QList>
#include <QWidget>

class QTabBar;

namespace tarvik {

// A tab control whose pages are numbered from 1 and whose controls are placed
// relative to the whole control, tab strip included, as the window was designed.
class NotesTab : public QWidget {
    Q_OBJECT

public:
    NotesTab(const QList<int>& tabWidths, int tabHeight, QWidget* parent = nullptr);

    // Adds a page; returns its container, which covers the whole control.
    QWidget* addPage(const QString& caption, const QIcon& icon = {});
    QWidget* page(int number) const;
    int pageCount() const { return int(m_pages.size()); }

    int selectedPage() const;
    void selectPage(int number);
    void setPageEnabled(int number, bool enabled);
    bool isPageEnabled(int number) const;
    QTabBar* tabBar() const { return m_bar; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void showCurrent();

    QTabBar* m_bar;
    QList<QWidget*> m_pages;
    int m_tabHeight;
};

// A frame with a caption on a gradient header strip.
class GradientFrame : public QWidget {
    Q_OBJECT

public:
    explicit GradientFrame(const QString& caption, QWidget* parent = nullptr);
    QString caption() const { return m_caption; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_caption;
};

// A thin horizontal gradient rule.
class GradientRule : public QWidget {
    Q_OBJECT

public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace tarvik
