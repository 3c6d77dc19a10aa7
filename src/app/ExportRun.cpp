#include "app/ExportRun.h"

#include "app/AppContext.h"
#include "app/DatabaseScan.h"
#include "app/FileNames.h"
#include "app/FolderTree.h"
#include "app/MailFolders.h"
#include "app/NotesSessionFallback.h"
#include "app/Ports.h"
#include "app/SaveWindowPort.h"
#include "app/UtilityProcedures.h"
#include "base/FailureStyles.h"
#include "base/Text.h"
#include "mail/RdoSession.h"
#include "notes/NotesObjects.h"

namespace tarvik {

namespace {

const QString tab = QStringLiteral("\t");
const QString allDocumentsFolder = QStringLiteral("All Documents");

// Every document of a database walked as a folder is.
class AllDocumentsView final : public notes::NotesView {
public:
    explicit AllDocumentsView(std::shared_ptr<notes::NotesDocumentCollection> documents)
        : m_documents(std::move(documents))
    {}
    QString Name() override { return allDocumentsFolder; }
    bool isfolder() override { return true; }
    notes::NotesViewEntryCollection AllEntries() override
    {
        return notes::NotesViewEntryCollection(m_documents->Count());
    }
    std::shared_ptr<notes::NotesDocument> GetFirstDocument() override
    {
        return m_documents->GetFirstDocument();
    }
    std::shared_ptr<notes::NotesDocument>
    GetNextDocument(const std::shared_ptr<notes::NotesDocument>& current) override
    {
        return m_documents->GetNextDocument(current);
    }

private:
    std::shared_ptr<notes::NotesDocumentCollection> m_documents;
};

} // namespace

ExportRun::ExportRun(AppContext& context, SaveWindowPort& window, DialogPort& dialogs,
                     EventPump& pump, QString databasePath, ExportObserver* observer)
    : m_context(context), m_window(window), m_dialogs(dialogs), m_pump(pump),
      m_databasePath(std::move(databasePath)), m_observer(observer),
      m_destination(context.state.gExportPath), m_fields(context.state, context.temp),
      m_builder(context.temp, context.random)
{}

ExportRun::~ExportRun() = default;

bool ExportRun::isSelected(const FolderId& folder) const
{
    // The ticked node's own folder, never a folder of the same name or one
    // whose name contains it: a ticked user folder "Inbox" is not the Inbox.
    return folder.isFolder() && m_context.state.gSelectedFolders.contains(folder);
}

void ExportRun::showConversionError(const QString& reason)
{
    m_log.close();
    m_summary.startFailure = reason;
    QString text = QStringLiteral("Error occured during conversion...");
    if (!reason.isEmpty())
        text += QStringLiteral("\r\n\r\n") + reason;
    m_dialogs.showMessage(text, QStringLiteral("Error in Conversion"), MessageButtons::Ok,
                          MessageIcon::Information);
}

bool ExportRun::openSession()
{
    AppState& state = m_context.state;
    const OpenedNotesSession opened = openNotesSession(m_context.notesSessions);
    state.gSession = opened.session;
    if (opened.fromFallback)
        m_log.writeLine(QStringLiteral("Lotus Notes Found"));
    if (state.gSession)
        return true;
    m_log.close();
    m_summary.startFailure = opened.failure;
    m_dialogs.showMessage(notesNotInstalledText(), QStringLiteral("Notes Not Installed/Configured"),
                          MessageButtons::Ok, MessageIcon::Information);
    return false;
}

void ExportRun::logOnMailSession()
{
    m_mailSession = m_context.rdoSessions.create(mail::rdoSessionProgId);
    m_mailSession->Logon();
}

void ExportRun::CmdConversion_Click()
{
    AppState& state = m_context.state;
    m_summary = {};
    // Each message builds and frees buffers of the same sizes as the one before.
    platform::keepFreedMemoryForReuse();
    m_window.setHeader(QStringLiteral("Checking Configuration..."));
    m_window.setProcessing(QStringLiteral("Processing..."));
    m_window.setFound(QString());
    m_window.setCurrent(QString());
    m_window.setSubjectLabelVisible(false);
    m_pump.repaint();

    m_log.open(m_context.logPath);
    if (!openSession())
        return;
    m_window.setSubjectLabelVisible(true);

    // The export root: the chosen folder, then the database's title. Built
    // from the chosen folder on every run, never from the previous root.
    QString root = m_destination;
    if (!root.endsWith(platform::separator()))
        root += platform::separator();
    root = trimBlanks(root);
    const QString title = trimBlanks(names::cleanFolderName(trimBlanks(state.gDatabaseTitle)));
    if (!title.isEmpty())
        root += names::folderPart(title) + platform::separator();
    state.gExportPath = root;
    m_summary.exportRoot = root;
    if (!CreateFolderPath(root)) {
        showConversionError(QStringLiteral("The folder %1 cannot be created.").arg(root));
        return;
    }

    // Up to the first view of the database, a failure stops the run.
    std::optional<notes::NotesViewList> views;
    try {
        logOnMailSession();
        state.gDatabase = require(state.gSession)->GetDatabase(QString(), m_databasePath);
        m_window.setHeader(QStringLiteral("Saving Emails (Custom Folders)..."));
        views = require(state.gDatabase)->Views();
    } catch (const OperationError& e) {
        showConversionError(e.message());
        return;
    }
    m_summary.started = true;
    if (views)
        exportUserFolders(*views);

    // A second session serves the standard folders.
    skipStep([&] { require(m_mailSession)->Logoff(); });
    m_mailSession.reset();
    try {
        logOnMailSession();
    } catch (const OperationError&) {
        // Every message of the standard folders then fails, and the log names each.
        m_mailSession.reset();
    }
    for (const StandardFolder* folder : exportedStandardFolders()) {
        exportStandardFolder(*folder);
        if (folder->exportRule != StandardExport::Deleted) {
            state.gDatabase.reset();
            state.gView.reset();
            state.gDocument.reset();
        }
    }
    if (m_allDocuments)
        exportAllDocuments();
    skipStep([&] { require(m_mailSession)->Logoff(); });
    m_mailSession.reset();
    complete();
}

QString ExportRun::userFolderPart(const QString& viewName) const
{
    return names::folderPart(trimBlanks(names::cleanFolderName(userFolderName(viewName))));
}

void ExportRun::assignOutputFolders(QStringList userFolders)
{
    // Every folder of the database gets its sub-folder here, ticked or not, so
    // that a folder is written to the same place whatever else is exported.
    // The standard folders keep their names; the user folders follow in name
    // order. Names are compared without regard to case, as Windows and many
    // shared or removable disks compare them.
    m_outputFolders.clear();
    QHash<QString, QString> holders; // case-folded sub-folder -> what is written there
    for (const StandardFolder* folder : exportedStandardFolders())
        holders.insert(QString::fromLatin1(folder->outputFolder).toCaseFolded(),
                       QStringLiteral("the standard folder ") + QLatin1String(folder->id));
    if (m_allDocuments)
        holders.insert(allDocumentsFolder.toCaseFolded(),
                       QStringLiteral("every document of the database"));
    if (userFolders.isEmpty())
        return;
    SortAndRemoveDuplicates(userFolders);
    for (const QString& name : std::as_const(userFolders)) {
        const QString plain = userFolderPart(name);
        QString part = plain;
        for (int n = 2; holders.contains(part.toCaseFolded()); ++n)
            part = names::numberedFolderPart(plain, n);
        // Named exactly, blanks included: "Projects" and "Projects " are two.
        holders.insert(part.toCaseFolded(), QStringLiteral("Folder[") + name + QLatin1Char(']'));
        OutputFolder out{part, {}};
        if (part != plain)
            out.plainHolder = holders.value(plain.toCaseFolded());
        m_outputFolders.insert(name, out);
    }
}

void ExportRun::exportUserFolders(const notes::NotesViewList& views)
{
    AppState& state = m_context.state;
    QStringList all;
    QStringList taken;
    for (const std::shared_ptr<notes::NotesView>& view : views) {
        QString name;
        if (!skipStep([&] { name = userFolderOfView(view); }) || name.isEmpty())
            continue;
        all.append(name);
        if (isSelected({FolderKind::User, name}))
            taken.append(name);
    }
    assignOutputFolders(all);
    for (const QString& name : std::as_const(taken)) {
        CreateFolderPath(state.gExportPath + m_outputFolders.value(name).part);
        m_log.writeLine(QStringLiteral("Customer Folder : ") + name);
    }
    m_log.writeLine(QStringLiteral("---------------- Starting User Folders ---------------"));
    if (taken.isEmpty())
        return;
    SortAndRemoveDuplicates(taken);

    for (const QString& name : std::as_const(taken)) {
        const QString shownName = userFolderName(name);
        const OutputFolder out = m_outputFolders.value(name);
        m_log.writeLine(QStringLiteral("Created : Folder[") + shownName + QLatin1Char(']'));
        if (!out.plainHolder.isEmpty())
            m_log.writeLine(QStringLiteral("Folder Renamed : Folder[%1] is written to [%2], "
                                           "since [%3] holds %4")
                                .arg(name, out.part, userFolderPart(name), out.plainHolder));
        m_window.setHeader(QStringLiteral("Saving Emails (Custom Folders)... [") + shownName +
                           QLatin1Char(']'));
        m_pump.repaint();
        // Opened by the view's exact name, so a name with surrounding blanks
        // is found as well.
        exportFolder(name, shownName, out.part, nullptr);
    }
}

void ExportRun::exportStandardFolder(const StandardFolder& folder)
{
    if (!isSelected({FolderKind::Standard, QLatin1String(folder.id)}))
        return;
    const QString outputFolder = QLatin1String(folder.outputFolder);
    CreateFolderPath(m_context.state.gExportPath + outputFolder);
    const QString phase = QStringLiteral("Saving Emails (%1)...").arg(outputFolder);
    m_window.setHeader(phase);
    m_log.writeLine(phase);
    m_pump.repaint();
    exportFolder(QLatin1String(folder.viewName), outputFolder, outputFolder, &folder);
}

void ExportRun::abandonFolder(const QString& name, const QString& reason)
{
    ++m_summary.foldersFailed;
    m_log.writeLine(QStringLiteral("Folder Not Exported : Folder[") + name +
                    QStringLiteral("] : ") + reason);
}

void ExportRun::folderIncomplete(const QString& name, qint64 missing, qint64 count,
                                 const QString& reason)
{
    m_summary.failed += missing;
    QString line = QStringLiteral("Folder Incomplete : Folder[%1] : %2 of its %3 documents "
                                  "could not be read")
                       .arg(name)
                       .arg(missing)
                       .arg(count);
    if (!reason.isEmpty())
        line += QStringLiteral(": ") + reason;
    m_log.writeLine(line);
}

void ExportRun::exportFolder(const QString& viewName, const QString& shownName,
                             const QString& folderName, const StandardFolder* standard)
{
    AppState& state = m_context.state;
    std::shared_ptr<notes::NotesView> view;
    std::shared_ptr<notes::NotesDocument> first;
    qint64 count = 0;
    try {
        state.gDocument.reset();
        state.gDatabase = require(state.gSession)->GetDatabase(QString(), m_databasePath);
        state.gView = require(state.gDatabase)->GetView(viewName);
        // A standard folder the database does not have holds nothing to lose.
        if (!state.gView && standard)
            return;
        view = require(state.gView, "View");
        first = view->GetFirstDocument();
        count = view->AllEntries().Count();
    } catch (const OperationError& e) {
        abandonFolder(shownName, e.message());
        return;
    }
    logReading(*view, shownName);
    exportDocuments(*view, std::move(first), count, shownName, folderName, standard);
}

void ExportRun::logReading(notes::NotesView& view, const QString& shownName)
{
    notes::NotesViewReading reading;
    try {
        reading = view.reading();
    } catch (const OperationError& e) {
        reading.partial = true;
        reading.problems.append(e.message());
    }
    if (reading.orderUnknown)
        m_log.writeLine(QStringLiteral("Folder Order Unknown : Folder[%1] : the database keeps "
                                       "no order for this folder; its mails are exported in "
                                       "the order they were added to the database")
                            .arg(shownName));
    if (!reading.partial)
        return;
    // Counted as a folder not exported completely: some of its documents may be missing.
    ++m_summary.foldersFailed;
    if (reading.problems.isEmpty())
        reading.problems.append(QStringLiteral("the database does not say which"));
    for (const QString& problem : std::as_const(reading.problems))
        m_log.writeLine(
            QStringLiteral("Folder Partially Read : Folder[%1] : %2").arg(shownName, problem));
}

void ExportRun::exportAllDocuments()
{
    AppState& state = m_context.state;
    const QString phase = QStringLiteral("Saving Emails (%1)...").arg(allDocumentsFolder);
    m_window.setHeader(phase);
    m_log.writeLine(phase);
    m_pump.repaint();
    CreateFolderPath(state.gExportPath + allDocumentsFolder);
    std::shared_ptr<notes::NotesView> view;
    std::shared_ptr<notes::NotesDocument> first;
    qint64 count = 0;
    try {
        state.gDocument.reset();
        state.gDatabase = require(state.gSession)->GetDatabase(QString(), m_databasePath);
        state.gView.reset();
        std::shared_ptr<notes::NotesDocumentCollection> documents =
            require(state.gDatabase)->AllDocuments();
        view = std::make_shared<AllDocumentsView>(require(documents, "Documents"));
        first = view->GetFirstDocument();
        count = view->AllEntries().Count();
    } catch (const OperationError& e) {
        abandonFolder(allDocumentsFolder, e.message());
        return;
    }
    exportDocuments(*view, std::move(first), count, allDocumentsFolder, allDocumentsFolder,
                    nullptr);
    state.gDatabase.reset();
    state.gDocument.reset();
}

void ExportRun::exportDocuments(notes::NotesView& view, std::shared_ptr<notes::NotesDocument> first,
                                qint64 count, const QString& shownName, const QString& folderName,
                                const StandardFolder* standard)
{
    AppState& state = m_context.state;
    if (!first) {
        // Entries whose documents are gone are passed over by the view.
        if (count > 0)
            folderIncomplete(shownName, count, count);
        return;
    }
    state.gDocument = std::move(first);
    ++m_summary.folders;
    m_window.setFound(QString::number(count));
    if (m_observer)
        m_observer->folderStarted(folderName, count);

    qint64 counter = 0;
    while (true) {
        try {
            count = view.AllEntries().Count();
        } catch (const OperationError& e) {
            abandonFolder(shownName, e.message());
            break;
        }
        // A view may hold more documents than its count says (a damaged
        // count): those are exported too rather than silently left behind.
        if (counter >= count && !state.gDocument)
            break;
        if (!state.gDocument) {
            // The view lists more documents than it yields.
            folderIncomplete(shownName, count - counter, count);
            break;
        }
        m_window.setCurrent(QString::number(counter) + QLatin1Char('/') + QString::number(count));
        if (state.gDocument->IsValid())
            exportDocument(folderName, standard ? standard->exportRule : StandardExport::Copy);
        else
            documentUnreadable(*state.gDocument, folderName);
        try {
            state.gDocument = view.GetNextDocument(state.gDocument);
        } catch (const OperationError& e) {
            folderIncomplete(shownName, qMax<qint64>(count - counter - 1, 0), count, e.message());
            ++m_summary.foldersFailed;
            break;
        }
        ++counter;
    }
}

void ExportRun::documentUnreadable(notes::NotesDocument& doc, const QString& folderName)
{
    // Its every read fails alike; the first says why.
    QString reason = QStringLiteral("the document cannot be read");
    try {
        doc.Size();
    } catch (const OperationError& e) {
        reason = e.message();
    }
    ++m_summary.failed;
    m_log.writeLine(tab + QStringLiteral("Email Not Saved : in Folder[") + folderName +
                    QStringLiteral("] : ") + reason);
    if (m_observer)
        m_observer->mailDone(false);
}

void ExportRun::exportDocument(const QString& folderName, StandardExport rule)
{
    AppState& state = m_context.state;
    notes::NotesDocument& doc = *state.gDocument;
    MessageFields fields;
    m_fields.readSubject(doc, fields);
    m_window.setProcessing(fields.subject);
    m_pump.repaint();
    m_fields.readRest(doc, fields);

    EmailItem message;
    message.folderName = folderName;
    message.from = trimBlanks(fields.from);
    message.subject = trimBlanks(fields.subject);
    message.to = trimBlanks(fields.to);
    message.cc = state.gCC;
    message.bcc = state.gBCC;
    message.date = trimBlanks(fields.date);
    message.body = trimBlanks(fields.body);
    if (rule == StandardExport::Deleted) {
        // Deleted mail takes each item's first value as it stands.
        message.from = trimBlanks(m_fields.firstValue(doc, QStringLiteral("From"), fields));
        message.to = trimBlanks(m_fields.firstValue(doc, QStringLiteral("SendTo"), fields));
        message.date = trimBlanks(m_fields.firstValue(doc, QStringLiteral("PostedDate"), fields));
        message.body = trimBlanks(m_fields.firstValue(doc, QStringLiteral("Body"), fields));
    }
    for (const ExtractedAttachment& a : std::as_const(fields.attachments))
        message.attachments.insert(a.path, {a.displayName, a.failure});
    // Sent Items and Drafts hand over the list itself, which the builder
    // shortens by its first character; the others hand over a trimmed copy.
    const bool listItself = rule == StandardExport::ListItself && fields.hasEmbedded;
    if (fields.hasEmbedded)
        message.attachFileName = listItself ? state.gAttachList : trimBlanks(state.gAttachList);
    const MessageOutcome outcome =
        m_builder.CreateEmailItem(m_mailSession.get(), state.gExportPath, message);
    if (listItself)
        state.gAttachList = message.attachFileName;

    m_log.writeLine(tab + QStringLiteral("Email Subject : SUBJECT[") + trimBlanks(fields.subject) +
                    QLatin1Char(']'));
    if (fields.hasEmbedded)
        m_log.writeLine(tab + QStringLiteral("Attachment : ATTACH[") +
                        trimBlanks(state.gAttachList) + QLatin1Char(']'));

    const QString where = QStringLiteral(" SUBJECT[") + trimBlanks(fields.subject) +
                          QStringLiteral("] in Folder[") + folderName + QStringLiteral("]");
    for (const QString& item : std::as_const(fields.unreadable))
        m_log.writeLine(tab + QStringLiteral("Item Not Read :") + where + QStringLiteral(" : ") +
                        item);
    for (const QString& problem : std::as_const(outcome.problems))
        m_log.writeLine(tab + QStringLiteral("Field Not Set :") + where + QStringLiteral(" : ") +
                        problem);
    QStringList dropped = fields.lostAttachments + outcome.droppedAttachments;
    for (const QString& attachment : std::as_const(dropped))
        m_log.writeLine(tab + QStringLiteral("Attachment Not Saved :") + where +
                        QStringLiteral(" : ") + attachment);
    for (const QString& attachment : std::as_const(fields.incompleteAttachments))
        m_log.writeLine(tab + QStringLiteral("Attachment Incomplete :") + where +
                        QStringLiteral(" : ") + attachment);
    m_summary.attachments += outcome.attached;
    m_summary.attachmentsDropped += dropped.size();
    m_summary.attachmentsIncomplete += fields.incompleteAttachments.size();
    if (outcome.saved) {
        ++m_summary.written;
        if (!fields.unreadable.isEmpty() || !outcome.problems.isEmpty())
            ++m_summary.incomplete;
    } else {
        ++m_summary.failed;
        m_log.writeLine(tab + QStringLiteral("Email Not Saved :") + where + QStringLiteral(" : ") +
                        outcome.failure);
    }
    if (m_observer)
        m_observer->mailDone(outcome.saved);
}

void ExportRun::complete()
{
    AppState& state = m_context.state;
    state.gDatabase.reset();
    state.gView.reset();
    state.gDocument.reset();
    state.gBodyItem.reset();
    const QString senderFileError = m_builder.finish();
    if (!senderFileError.isEmpty())
        m_log.writeLine(senderFileError);
    // The mails are on the disk before the run says they are done.
    QString syncError;
    if (!platform::syncFileSystem(state.gExportPath, &syncError))
        m_log.writeLine(QStringLiteral("The export folder could not be written to the disk: ") +
                        syncError);
    m_log.writeLine(QStringLiteral("Done"));
    m_log.close();
    m_summary.logFailure = m_log.failure();

    const QString tail =
        QStringLiteral("\r\n") + state.gExportPath + QStringLiteral("\r\n") + state.gDatabaseTitle;
    const bool clean = m_summary.clean();
    QString text;
    if (clean) {
        text = QStringLiteral("Migration Completed Successfully !") + tail;
    } else {
        text = QStringLiteral("Migration completed with errors.\r\n%1 mails were written, %2 could "
                              "not be written.")
                   .arg(m_summary.written)
                   .arg(m_summary.failed);
        if (m_summary.attachmentsDropped > 0)
            text += QStringLiteral("\r\n%1 attachments could not be saved.")
                        .arg(m_summary.attachmentsDropped);
        if (m_summary.attachmentsIncomplete > 0)
            text += QStringLiteral("\r\n%1 attachments were saved with fewer bytes than the "
                                   "database records for them.")
                        .arg(m_summary.attachmentsIncomplete);
        if (m_summary.incomplete > 0)
            text += QStringLiteral("\r\n%1 mails were written without parts that could not be "
                                   "read or set.")
                        .arg(m_summary.incomplete);
        if (m_summary.foldersFailed > 0)
            text += QStringLiteral("\r\n%1 folders could not be exported completely.")
                        .arg(m_summary.foldersFailed);
        if (m_summary.logFailure.isEmpty())
            text += QStringLiteral("\r\nThe export log lists each one: ") + m_log.path();
        text += tail;
    }
    if (!m_summary.logFailure.isEmpty())
        text += QStringLiteral("\r\n\r\n") + m_summary.logFailure;
    m_dialogs.showMessage(text, QStringLiteral("Export to Outlook Express"), MessageButtons::Ok,
                          clean && m_summary.logFailure.isEmpty() ? MessageIcon::Information
                                                                  : MessageIcon::Warning);
    m_window.unload();
}

} // namespace tarvik
