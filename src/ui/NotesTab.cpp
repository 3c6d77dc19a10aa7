#include "ui/NotesTab.h"

#include "ui/Artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QTabBar>

namespace tarvik {

namespace {

// A tab strip whose tabs keep their designed widths and height.
class FixedTabBar : public QTabBar {
public:
    FixedTabBar(QList<int> widths, int height, QWidget* parent)
        : QTabBar(parent), m_widths(std::move(widths)), m_height(height)
    {
        setDrawBase(false);
        setExpanding(false);
        setElideMode(Qt::ElideNone);
        setUsesScrollButtons(false);
    }

protected:
    QSize tabSizeHint(int index) const override
    {
        const QSize hint = QTabBar::tabSizeHint(index);
        const int w = index < m_widths.size() ? qMax(m_widths.at(index), 1) : hint.width();
        return QSize(qMax(w, hint.width()), m_height);
    }
    QSize minimumTabSizeHint(int index) const override { return tabSizeHint(index); }

private:
    QList<int> m_widths;
    int m_height;
};

} // namespace

NotesTab::NotesTab(const QList<int>& tabWidths, int tabHeight, QWidget* parent)
    : QWidget(parent), m_bar(new FixedTabBar(tabWidths, tabHeight, this)), m_tabHeight(tabHeight)
{
    m_bar->move(2, 0);
    connect(m_bar, &QTabBar::currentChanged, this, [this] { showCurrent(); });
}

QWidget* NotesTab::addPage(const QString& caption, const QIcon& icon)
{
    auto* page = new QWidget(this);
    page->setGeometry(rect());
    m_pages.append(page);
    m_bar->addTab(icon, caption);
    m_bar->adjustSize();
    m_bar->raise();
    showCurrent();
    return page;
}

QWidget* NotesTab::page(int number) const
{
    return number >= 1 && number <= m_pages.size() ? m_pages.at(number - 1) : nullptr;
}

int NotesTab::selectedPage() const
{
    return m_bar->currentIndex() + 1;
}

void NotesTab::selectPage(int number)
{
    if (number >= 1 && number <= m_pages.size())
        m_bar->setCurrentIndex(number - 1);
    showCurrent();
}

void NotesTab::setPageEnabled(int number, bool enabled)
{
    if (number >= 1 && number <= m_pages.size()) {
        m_bar->setTabEnabled(number - 1, enabled);
        m_pages.at(number - 1)->setEnabled(enabled);
    }
}

bool NotesTab::isPageEnabled(int number) const
{
    return number >= 1 && number <= m_pages.size() && m_bar->isTabEnabled(number - 1);
}

void NotesTab::showCurrent()
{
    const int current = m_bar->currentIndex();
    for (int i = 0; i < m_pages.size(); ++i)
        m_pages.at(i)->setVisible(i == current);
    m_bar->raise();
}

void NotesTab::resizeEvent(QResizeEvent*)
{
    for (QWidget* page : std::as_const(m_pages))
        page->setGeometry(rect());
}

void NotesTab::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QRect pane = rect().adjusted(0, m_tabHeight - 1, -1, -1);
    p.fillRect(pane, Qt::white);
    p.setPen(QColor(145, 155, 156));
    p.drawRect(pane);
}

GradientFrame::GradientFrame(const QString& caption, QWidget* parent)
    : QWidget(parent), m_caption(caption)
{}

void GradientFrame::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(250, 251, 255));
    QLinearGradient g(0, 0, width(), 0);
    g.setColorAt(0, QColor(24, 64, 160));
    g.setColorAt(1, QColor(170, 195, 240));
    p.fillRect(QRect(0, 0, width(), 19), g);
    p.setPen(Qt::white);
    p.setFont(art::tahoma(8.25, true));
    p.drawText(QRect(4, 0, width() - 8, 19), Qt::AlignVCenter | Qt::AlignLeft, m_caption);
    p.setPen(QColor(120, 145, 200));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

void GradientRule::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    QLinearGradient g(0, 0, width(), 0);
    g.setColorAt(0, QColor(10, 36, 106));
    g.setColorAt(0.5, QColor(90, 140, 230));
    g.setColorAt(1, QColor(255, 255, 255));
    p.fillRect(rect(), g);
}

} // namespace tarvik
