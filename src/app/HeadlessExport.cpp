#include "app/HeadlessExport.h"

#include "app/AppContext.h"
#include "app/ExportRun.h"
#include "app/MailFolders.h"
#include "app/MainProcedures.h"
#include "app/MainWindowPort.h"
#include "app/Ports.h"
#include "app/SaveWindowPort.h"
#include "base/Platform.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSet>

#include <functional>
#include <memory>

namespace tarvik {

namespace {

void print(std::FILE* err, const QString& text)
{
    QString t = text;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    std::fputs(t.toLocal8Bit().constData(), err);
    std::fputc('\n', err);
    std::fflush(err);
}

// The main window's controls, kept as values.
class ConsoleWindow : public MainWindowPort {
public:
    QString databasePath() const override { return m_path; }
    void setDatabasePath(const QString& path) override { m_path = path; }
    int selectedPage() const override { return m_page; }
    void selectPage(int page) override { m_page = page; }
    void setPageEnabled(int, bool) override {}
    void setScanFrameVisible(bool) override {}
    void setArrowVisible(ScanArrow, bool) override {}
    void setFolderNameCaption(const QString&) override {}
    void setScanButtonEnabled(bool) override {}
    void setBrowseButtonEnabled(bool) override {}
    void setToolbarButtonEnabled(int, bool) override {}
    int selectedTreeNode() const override { return -1; }

private:
    QString m_path;
    int m_page = 1;
};

// Message boxes go to the error stream as they stand; the pickers answer with
// the paths given on the command line.
class ConsoleDialogs : public DialogPort {
public:
    ConsoleDialogs(std::FILE* err, const HeadlessOptions& options) : m_err(err), m_options(options)
    {}

    MessageAnswer showMessage(const QString& text, const QString& title, MessageButtons buttons,
                              MessageIcon) override
    {
        lastTitle = title;
        lastText = text;
        if (beforeMessage)
            beforeMessage();
        print(m_err, text);
        return buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
    }
    QString openFile(const QString&) override { return m_options.database; }
    QString browseForFolder(const QString&) override { return m_options.destination; }

    QString lastTitle;
    QString lastText;
    // Runs before a message is printed (a progress bar ends its line there).
    std::function<void()> beforeMessage;

private:
    std::FILE* m_err;
    const HeadlessOptions& m_options;
};

class NoPump : public EventPump {
public:
    void pause(int) override {}
    void repaint() override {}
};

class NoHelp : public HelpViewerPort {
public:
    void showHelp(const QString&) override {}
};

class ConsoleSaveWindow : public SaveWindowPort {
public:
    void setHeader(const QString&) override {}
    void setProcessing(const QString&) override {}
    void setFound(const QString&) override {}
    void setCurrent(const QString&) override {}
    void setSubjectLabelVisible(bool) override {}
    void unload() override {}
};

// A progress bar on a terminal: mails done of the total, failures and rate.
class ProgressBar : public ExportObserver {
public:
    ProgressBar(std::FILE* err, qint64 total) : m_err(err), m_total(total) { m_clock.start(); }

    void folderStarted(const QString& folderName, qint64) override
    {
        m_folder = folderName;
        draw(true);
    }
    void mailDone(bool written) override
    {
        ++m_done;
        m_failed += written ? 0 : 1;
        draw(false);
    }
    // Draws the bar a last time and ends its line; the bar is drawn again
    // (on a new line) only if more mails follow.
    void finish()
    {
        if (m_drawn) {
            draw(true);
            std::fputc('\n', m_err);
            std::fflush(m_err);
            m_drawn = false;
        }
    }

private:
    void draw(bool now)
    {
        if (!now && m_sinceDraw.isValid() && m_sinceDraw.elapsed() < 100)
            return;
        m_sinceDraw.start();
        const int width = 30;
        const qint64 total = qMax(m_total, m_done);
        const int filled = total > 0 ? int(width * m_done / total) : width;
        const double seconds = qMax(m_clock.elapsed(), qint64(1)) / 1000.0;
        const QString line =
            QStringLiteral("\r[%1%2] %3/%4 mails, %5 failed, %6 mails/s  %7")
                .arg(QString(filled, QLatin1Char('#')), QString(width - filled, QLatin1Char('.')))
                .arg(m_done)
                .arg(total)
                .arg(m_failed)
                .arg(qRound(m_done / seconds))
                .arg(m_folder.left(30), -30);
        std::fputs(line.toLocal8Bit().constData(), m_err);
        std::fflush(m_err);
        m_drawn = true;
    }

    std::FILE* m_err;
    qint64 m_total;
    qint64 m_done = 0;
    qint64 m_failed = 0;
    QString m_folder;
    QElapsedTimer m_clock;
    QElapsedTimer m_sinceDraw;
    bool m_drawn = false;
};

// The export window: runs the export at once, as if its button was pressed.
class ConsoleWindows : public AppWindowsPort {
public:
    ConsoleWindows(AppContext& context, ConsoleDialogs& dialogs, EventPump& pump, std::FILE* err)
        : m_context(context), m_dialogs(dialogs), m_pump(pump), m_err(err)
    {}

    void showSaveWindow() override
    {
        std::unique_ptr<ProgressBar> bar;
        if (progressTotal >= 0) {
            bar = std::make_unique<ProgressBar>(m_err, progressTotal);
            // A message starts on a line of its own, after the bar's.
            m_dialogs.beforeMessage = [b = bar.get()] {
                b->finish();
            };
        }
        ConsoleSaveWindow window;
        run = std::make_unique<ExportRun>(m_context, window, m_dialogs, m_pump, databasePath,
                                          bar.get());
        run->setAllDocuments(allDocuments);
        run->CmdConversion_Click();
        m_dialogs.beforeMessage = nullptr;
        if (bar)
            bar->finish();
    }
    void showAbout() override {}
    void quitApplication() override {}
    QString programFolder() const override { return {}; }

    QString databasePath;
    bool allDocuments = false;
    qint64 progressTotal = -1;
    std::unique_ptr<ExportRun> run;

private:
    AppContext& m_context;
    ConsoleDialogs& m_dialogs;
    EventPump& m_pump;
    std::FILE* m_err;
};

// The mails a selection will export: the ticked folders of kinds that are
// exported (Follow-Up and Junk Mail are shown, not exported).
qint64 mailsToExport(const FolderTree& tree)
{
    qint64 total = 0;
    for (int i = 0; i < tree.nodeCount(); ++i) {
        const FolderNode& n = tree.node(i);
        const StandardFolder* standard =
            n.kind == FolderKind::Standard ? standardFolder(n.folderName) : nullptr;
        const bool notExported = standard && standard->exportRule == StandardExport::None;
        if (n.tick == 1 && n.count > 0 && !notExported)
            total += n.count;
    }
    return total;
}

// The node a user folder's name stands for: the folder of exactly that view
// name, else the one folder whose name is that without surrounding blanks.
// -1 with the reason in why when there is none, or more than one.
int userFolderNode(const FolderTree& tree, const QString& name, QString* why)
{
    QList<int> trimmedMatches;
    for (int i = 0; i < tree.nodeCount(); ++i) {
        const FolderNode& n = tree.node(i);
        if (n.kind != FolderKind::User)
            continue;
        if (n.viewName == name)
            return i;
        if (n.folderName == userFolderName(name))
            trimmedMatches.append(i);
    }
    if (trimmedMatches.size() == 1)
        return trimmedMatches.first();
    if (trimmedMatches.size() > 1) {
        QStringList names;
        for (int i : std::as_const(trimmedMatches))
            names.append(QLatin1Char('"') + tree.node(i).viewName + QLatin1Char('"'));
        *why = QStringLiteral("\"%1\" could be any of the folders %2: give the name exactly, "
                              "blanks included.")
                   .arg(name, names.join(QStringLiteral(", ")));
        return -1;
    }
    QStringList known;
    for (int i = 0; i < tree.nodeCount(); ++i) {
        if (tree.node(i).kind == FolderKind::User)
            known.append(tree.node(i).viewName);
    }
    *why =
        QStringLiteral("the database has no folder \"%1\". Its own folders: %2")
            .arg(name, known.isEmpty() ? QStringLiteral("none") : known.join(QStringLiteral(", ")));
    return -1;
}

// The node of a name given to --folders: a standard folder by its identifier,
// any other name a user folder.
int namedFolderNode(const FolderTree& tree, const QString& name, QString* why)
{
    if (!standardFolder(name))
        return userFolderNode(tree, name, why);
    for (int i = 0; i < tree.nodeCount(); ++i) {
        if (tree.node(i).folder() == FolderId{FolderKind::Standard, name})
            return i;
    }
    *why = QStringLiteral("the folder tree has no standard folder \"%1\".").arg(name);
    return -1;
}

bool checkDestination(const QString& destination, QString* why)
{
    const QFileInfo info(destination);
    if (info.exists() && !info.isDir()) {
        *why = QStringLiteral("%1 is not a folder.").arg(destination);
        return false;
    }
    if (!info.exists() && !platform::createFolderPath(destination)) {
        *why = QStringLiteral("The folder %1 cannot be created.").arg(destination);
        return false;
    }
    const QString probe = QDir(destination).filePath(QStringLiteral(".tarvik-write-test"));
    QString error;
    if (!platform::createNewFile(probe, &error)) {
        *why = QStringLiteral("Cannot write in %1: %2").arg(destination, error);
        return false;
    }
    QFile::remove(probe);
    return true;
}

} // namespace

int runHeadlessExport(const HeadlessOptions& options, AppContext& context, std::FILE* err)
{
    QElapsedTimer clock;
    clock.start();
    const QFileInfo database(options.database);
    if (!database.isFile()) {
        print(err,
              QStringLiteral("tarvik-export: %1 is not a database file.").arg(options.database));
        return exitstatus::notStarted;
    }
    QString why;
    if (!checkDestination(options.destination, &why)) {
        print(err, QStringLiteral("tarvik-export: ") + why);
        return exitstatus::notStarted;
    }

    ConsoleWindow window;
    ConsoleDialogs dialogs(err, options);
    NoPump pump;
    NoHelp help;
    ConsoleWindows windows(context, dialogs, pump, err);
    MainProcedures procedures(context, window, dialogs, pump, windows, help);

    procedures.scan.CmdBrowse_Click();
    procedures.scan.CmdScan_Click();
    // A database without views or folders (no mail file) still has documents to export.
    const bool scanned = dialogs.lastTitle == QLatin1String("Scan Completed...");
    const bool noViews = dialogs.lastText.startsWith(QLatin1String("No Data Found"));
    if (!scanned && !(options.allDocuments && noViews)) {
        print(err, QStringLiteral("tarvik-export: %1 could not be scanned.").arg(options.database));
        return exitstatus::notStarted;
    }

    FolderTree& tree = procedures.tree;
    if (!options.folders.isEmpty() || !options.userFolders.isEmpty() || options.allDocuments) {
        // Each name ticks exactly one node; every other node is unticked.
        QSet<int> chosen;
        auto choose = [&](const QString& name, bool userFolder) {
            QString why;
            const int node =
                userFolder ? userFolderNode(tree, name, &why) : namedFolderNode(tree, name, &why);
            if (node < 0)
                print(err, QStringLiteral("tarvik-export: ") + why);
            else
                chosen.insert(node);
            return node >= 0;
        };
        for (const QString& name : options.folders) {
            if (!choose(name, false))
                return exitstatus::notStarted;
        }
        for (const QString& name : options.userFolders) {
            if (!choose(name, true))
                return exitstatus::notStarted;
        }
        for (int i = 0; i < tree.nodeCount(); ++i)
            tree.setTick(i, chosen.contains(i) ? 1 : 0);
    }

    windows.databasePath = window.databasePath();
    windows.allDocuments = options.allDocuments;
    if (options.progressBar)
        windows.progressTotal = mailsToExport(tree);
    bool ticked = false;
    for (int i = 0; i < tree.nodeCount(); ++i)
        ticked = ticked || tree.node(i).tick == 1;
    if (ticked) {
        procedures.exportSetup.CmdStartConversion_Click();
    } else {
        // All documents alone: no folder to select, the export window at once.
        context.state.gSelectedFolders.clear();
        context.state.gExportPath = options.destination;
        windows.showSaveWindow();
    }

    if (!windows.run || !windows.run->summary().started) {
        print(err, QStringLiteral("tarvik-export: the export could not start."));
        return exitstatus::notStarted;
    }

    const ExportRun::Summary& s = windows.run->summary();
    print(err, QStringLiteral("%1 folders, %2 mails written, %3 mails failed, %4 attachments "
                              "(%5 not saved, %6 incomplete), %7 mails incomplete, %8 folders not "
                              "exported completely, %9 s. Export folder: %10")
                   .arg(s.folders)
                   .arg(s.written)
                   .arg(s.failed)
                   .arg(s.attachments)
                   .arg(s.attachmentsDropped)
                   .arg(s.attachmentsIncomplete)
                   .arg(s.incomplete)
                   .arg(s.foldersFailed)
                   .arg(clock.elapsed() / 1000.0, 0, 'f', 1)
                   .arg(s.exportRoot));
    return s.clean() ? exitstatus::allWritten : exitstatus::someFailed;
}

} // namespace tarvik
