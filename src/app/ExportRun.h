#pragma once

#include "app/ExportLog.h"
#include "app/FolderId.h"
#include "app/MessageBuilder.h"
#include "app/MessageFields.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>

namespace tarvik {

struct AppContext;
class DialogPort;
class EventPump;
class ExportObserver;
class SaveWindowPort;
struct StandardFolder;
enum class StandardExport;

namespace mail {
class RdoSession;
}
namespace notes {
class NotesDocument;
class NotesView;
} // namespace notes

// The export itself, behind the export window's one button: every mail of the
// selected folders becomes an .eml file under the export root, with the export
// log telling what was written and what was not, and why.
class ExportRun {
public:
    // What a run did, for the completion message and the headless exporter.
    struct Summary {
        bool started = false; // false when the run stopped before exporting
        QString startFailure; // why it stopped
        int folders = 0;      // folders exported
        qint64 written = 0;   // mails written
        qint64 failed = 0;    // mails not written
        qint64 attachments = 0;
        qint64 attachmentsDropped = 0;
        qint64 attachmentsIncomplete = 0; // saved with fewer bytes than recorded
        qint64 incomplete = 0;            // mails written without items or fields that failed
        int foldersFailed = 0;            // folders given up, whole or in part
        bool clean() const
        {
            return failed == 0 && attachmentsDropped == 0 && attachmentsIncomplete == 0 &&
                   incomplete == 0 && foldersFailed == 0;
        }
        QString exportRoot;
        QString logFailure; // why the log could not be written, if it could not
    };

    // The destination is the one chosen for this window (gExportPath when it
    // opens); every run builds its export root from it anew.
    ExportRun(AppContext& context, SaveWindowPort& window, DialogPort& dialogs, EventPump& pump,
              QString databasePath, ExportObserver* observer = nullptr);
    ~ExportRun();

    void CmdConversion_Click();
    // Also export every document of the database, in the order it keeps them, into the
    // folder "All Documents" (a mail in a folder is then written twice).
    void setAllDocuments(bool on) { m_allDocuments = on; }
    const Summary& summary() const { return m_summary; }

private:
    // Where a user folder is written: its sub-folder, and when that is not
    // the folder's plain name, what holds the plain name.
    struct OutputFolder {
        QString part;
        QString plainHolder;
    };

    bool openSession();
    void logOnMailSession();
    QString userFolderPart(const QString& viewName) const;
    void assignOutputFolders(QStringList userFolders);
    void exportUserFolders(const QList<std::shared_ptr<notes::NotesView>>& views);
    void exportStandardFolder(const StandardFolder& folder);
    void exportFolder(const QString& viewName, const QString& shownName, const QString& folderName,
                      const StandardFolder* standard);
    void exportAllDocuments();
    void exportDocuments(notes::NotesView& view, std::shared_ptr<notes::NotesDocument> first,
                         qint64 count, const QString& shownName, const QString& folderName,
                         const StandardFolder* standard);
    void logReading(notes::NotesView& view, const QString& shownName);
    void documentUnreadable(notes::NotesDocument& doc, const QString& folderName);
    void exportDocument(const QString& folderName, StandardExport rule);
    void abandonFolder(const QString& name, const QString& reason);
    void folderIncomplete(const QString& name, qint64 missing, qint64 count,
                          const QString& reason = {});
    bool isSelected(const FolderId& folder) const;
    void complete();
    void showConversionError(const QString& reason);

    AppContext& m_context;
    SaveWindowPort& m_window;
    DialogPort& m_dialogs;
    EventPump& m_pump;
    QString m_databasePath;
    ExportObserver* m_observer;
    QString m_destination;
    std::shared_ptr<mail::RdoSession> m_mailSession;
    ExportLog m_log;
    MessageFieldReader m_fields;
    MessageBuilder m_builder;
    Summary m_summary;
    QHash<QString, OutputFolder> m_outputFolders; // by the user folder's exact view name
    bool m_allDocuments = false;
};

} // namespace tarvik
