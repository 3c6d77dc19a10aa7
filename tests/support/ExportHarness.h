#pragma once

#include "Harness.h"

#include "app/ExportRun.h"
#include "app/SaveWindowPort.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>

#include <memory>

namespace tarvik::test {

// The export window's labels as plain values.
class FakeSaveWindow : public SaveWindowPort {
public:
    void setHeader(const QString& text) override
    {
        header = text;
        headers.append(text);
    }
    void setProcessing(const QString& text) override { processing = text; }
    void setFound(const QString& text) override { found = text; }
    void setCurrent(const QString& text) override { current = text; }
    void setSubjectLabelVisible(bool visible) override { subjectVisible = visible; }
    void unload() override { ++unloads; }

    QString header, processing, found, current;
    QStringList headers;
    bool subjectVisible = true;
    int unloads = 0;
};

// Scans a database and exports it through the procedures and the export run,
// with the screen replaced by doubles.
struct ExportHarness : Harness {
    FakeSaveWindow save;
    std::unique_ptr<ExportRun> run;
    int presses = 1; // how often "Export Emails" is pressed in the window

    explicit ExportHarness(const QString& logPath)
    {
        context.logPath = logPath;
        windows.onShowSaveWindow = [this] {
            run = std::make_unique<ExportRun>(context, save, dialogs, pump, window.path);
            for (int i = 0; i < presses; ++i)
                run->CmdConversion_Click();
        };
    }

    void scan(const QString& database)
    {
        browse(database);
        procedures.scan.CmdScan_Click();
    }

    // Unticks the nodes with the given keys.
    void untick(const QStringList& keys)
    {
        for (const QString& key : keys)
            procedures.tree.setTick(procedures.tree.indexOfKey(key), 0);
    }

    // "Start Conversion", the destination chosen, then the export window.
    void exportTo(const QString& destination)
    {
        dialogs.folderAnswers.append(destination);
        procedures.exportSetup.CmdStartConversion_Click();
    }

    const ExportRun::Summary& summary() const { return run->summary(); }

    // The log's lines, with the run's temporary folder written as <TEMP>/.
    QStringList logLines() const
    {
        QFile f(context.logPath);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QString text = QString::fromLocal8Bit(f.readAll());
        if (context.temp.exists())
            text.replace(context.temp.pathIfMade(), QStringLiteral("<TEMP>/"));
        QStringList lines = text.split(QStringLiteral("\r\n"));
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        return lines;
    }
};

// Every file below folder, as paths relative to it, sorted.
inline QStringList filesBelow(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(QDir(folder).relativeFilePath(it.next()));
    files.sort();
    return files;
}

} // namespace tarvik::test
