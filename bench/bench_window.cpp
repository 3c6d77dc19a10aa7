// bench_window: times the scan and the mail-list preview in the real main window,
// shown offscreen (run with QT_QPA_PLATFORM=offscreen).
//
//   bench_window scan STORE               chooses STORE through Browse, then times the
//                                         "Start Scan" press until the tree is shown
//   bench_window preview STORE FOLDERKEY  scans STORE (not timed), then times a click on
//                                         the node keyed FOLDERKEY until the list is laid
//                                         out and painted, and the memory it took
//   bench_window view STORE VIEWNAME      scans STORE (not timed), then times the list of
//                                         the view named VIEWNAME (a view that is no folder
//                                         has no node: its list is filled as a click would)

#include "app/AppContext.h"
#include "app/FolderTree.h"
#include "app/MainProcedures.h"
#include "ui/QtPorts.h"
#include "ui/frmMain.h"

#include <QAbstractProxyModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTest>
#include <QTreeView>

#include <cstdio>

using namespace tarvik;

namespace {

// Answers every message box at once and picks the given file.
class InstantDialogs : public DialogPort {
public:
    MessageAnswer showMessage(const QString& text, const QString&, MessageButtons buttons,
                              MessageIcon) override
    {
        lastMessage = text;
        return buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
    }
    QString openFile(const QString&) override { return file; }
    QString browseForFolder(const QString&) override { return QString(); }

    QString file;
    QString lastMessage;
};

class NoWindows : public AppWindowsPort {
public:
    void showSaveWindow() override {}
    void showAbout() override {}
    void quitApplication() override {}
    QString programFolder() const override { return QCoreApplication::applicationDirPath(); }
};

class NoHelp : public HelpViewerPort {
public:
    void showHelp(const QString&) override {}
};

// The real window with the procedures behind it, as the program composes it, but
// with dialogs that never wait for a user.
struct BenchWindow : frmMain {
    explicit BenchWindow(AppContext& context)
        : procedures(context, *this, dialogs, pump, windows, help)
    {
        connectProcedures(procedures);
    }
    InstantDialogs dialogs;
    QtEventPump pump;
    NoWindows windows;
    NoHelp help;
    MainProcedures procedures;
};

// Memory figures of this process from /proc/self/status, in KiB.
long statusKiB(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').first().toLong();
    }
    return -1;
}

// Starts the peak (VmHWM) afresh from the current resident size.
void resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

// Runs what the window has pending: layouts, delayed item layouts and paints.
void settle()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

double seconds(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e9;
}

QPushButton* button(BenchWindow& w, const char* name)
{
    return w.findChild<QPushButton*>(QLatin1String(name));
}

// Browse (choosing store), then Start Scan; returns the seconds from the press to the
// shown tree, or a negative number when the scan did not complete.
double scan(BenchWindow& w, const QString& store)
{
    w.dialogs.file = store;
    button(w, "CmdBrowse")->click();
    settle();
    QElapsedTimer timer;
    timer.start();
    button(w, "CmdScan")->click();
    settle();
    w.contactsTreeView()->viewport()->repaint();
    const double elapsed = seconds(timer);
    if (w.dialogs.lastMessage != QLatin1String("Notes Database Scan Completed Successfully")) {
        std::fprintf(stderr, "bench_window: the scan ended with: %s\n",
                     qPrintable(w.dialogs.lastMessage));
        return -1;
    }
    return elapsed;
}

int runScan(BenchWindow& w, const QString& store)
{
    const double elapsed = scan(w, store);
    if (elapsed < 0)
        return 1;
    std::printf("scan: %.3f s, %d nodes\n", elapsed, w.procedures.tree.nodeCount());
    return 0;
}

int runPreview(BenchWindow& w, const QString& store, const QString& key)
{
    if (scan(w, store) < 0)
        return 1;
    const FolderTree& tree = w.procedures.tree;
    const int node = tree.indexOfKey(key);
    if (node < 0) {
        std::fprintf(stderr, "bench_window: no folder node keyed %s\n", qPrintable(key));
        return 1;
    }
    QTreeView* view = w.contactsTreeView();
    const auto* proxy = qobject_cast<QAbstractProxyModel*>(view->model());
    const QModelIndex index =
        proxy ? proxy->mapFromSource(tree.modelIndexOfNode(node)) : tree.modelIndexOfNode(node);
    view->scrollTo(index);
    settle();
    const QPoint where = view->visualRect(index).center();

    const long rssBefore = statusKiB("VmRSS");
    resetPeak();
    const long peakBefore = statusKiB("VmHWM");
    QElapsedTimer timer;
    timer.start();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, where);
    settle();
    w.mailList()->viewport()->repaint();
    const double elapsed = seconds(timer);
    const long rssAfter = statusKiB("VmRSS");
    const long peakAfter = statusKiB("VmHWM");

    if (w.selectedTreeNode() != node) {
        std::fprintf(stderr, "bench_window: the click did not select %s\n", qPrintable(key));
        return 1;
    }
    const int rows = w.mailList()->model()->rowCount();
    if (rows != tree.node(node).count) {
        std::fprintf(stderr, "bench_window: %d rows listed, the folder counts %lld\n", rows,
                     static_cast<long long>(tree.node(node).count));
        return 1;
    }
    // The view has laid out every row: its header has a section per row and the
    // scroll bar reaches the last.
    QTableView* list = w.mailList();
    if (list->verticalHeader()->count() != rows || list->verticalScrollBar()->maximum() <= 0) {
        std::fprintf(stderr, "bench_window: the list has not laid out its %d rows\n", rows);
        return 1;
    }
    std::printf("preview: %.3f s, %d rows, VmRSS %+.1f MiB (%.1f to %.1f), "
                "VmHWM %+.1f MiB\n",
                elapsed, rows, (rssAfter - rssBefore) / 1024.0, rssBefore / 1024.0,
                rssAfter / 1024.0, (peakAfter - peakBefore) / 1024.0);
    return 0;
}

int runView(BenchWindow& w, const QString& store, const QString& viewName)
{
    if (scan(w, store) < 0)
        return 1;
    const long rssBefore = statusKiB("VmRSS");
    resetPeak();
    const long peakBefore = statusKiB("VmHWM");
    QElapsedTimer timer;
    timer.start();
    w.procedures.preview.EnumerateEmails(viewName);
    settle();
    w.mailList()->viewport()->repaint();
    const double elapsed = seconds(timer);
    const long rssAfter = statusKiB("VmRSS");
    const long peakAfter = statusKiB("VmHWM");
    const int rows = w.mailList()->model()->rowCount();
    if (rows == 0) {
        std::fprintf(stderr, "bench_window: the view %s listed nothing\n", qPrintable(viewName));
        return 1;
    }
    std::printf("view: %.3f s, %d rows, VmRSS %+.1f MiB (%.1f to %.1f), VmHWM %+.1f MiB\n", elapsed,
                rows, (rssAfter - rssBefore) / 1024.0, rssBefore / 1024.0, rssAfter / 1024.0,
                (peakAfter - peakBefore) / 1024.0);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const bool scanMode = args.size() == 3 && args.at(1) == QLatin1String("scan");
    const bool previewMode = args.size() == 4 && args.at(1) == QLatin1String("preview");
    const bool viewMode = args.size() == 4 && args.at(1) == QLatin1String("view");
    if (!scanMode && !previewMode && !viewMode) {
        std::fputs(
            "Usage: bench_window scan STORE | preview STORE FOLDERKEY | view STORE VIEWNAME\n",
            stderr);
        return 2;
    }

    AppContext context;
    BenchWindow w(context);
    w.Form_Load();
    w.show();
    if (!QTest::qWaitForWindowExposed(&w)) {
        std::fputs("bench_window: the window was not shown\n", stderr);
        return 2;
    }
    settle();
    if (viewMode)
        return runView(w, args.at(2), args.at(3));
    return scanMode ? runScan(w, args.at(2)) : runPreview(w, args.at(2), args.at(3));
}
