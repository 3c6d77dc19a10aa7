#include "notes/DatabaseFileSession.h"

#include "base/OperationError.h"
#include "base/Platform.h"
#include "notes/LocalStore.h"
#include "notes/NsfStore.h"

#include <QFile>

namespace tarvik::notes {

namespace {

enum class FileKind { NotesDatabase, LocalStore, Other };

// What a file is, by its first bytes. A path that is no regular file is left to the back-ends,
// which say what it is.
FileKind kindOf(const QString& path)
{
    const auto identity = platform::fileIdentity(path);
    if (!identity || identity->kind != platform::FileIdentity::Kind::Regular)
        return FileKind::LocalStore;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw OperationError(
            QStringLiteral("\"%1\" cannot be opened: %2").arg(path, file.errorString()));
    const QByteArray head = file.read(16);
    if (head.size() >= 2 && head.at(0) == '\x1A' && head.at(1) == '\0')
        return FileKind::NotesDatabase;
    if (head == QByteArray("SQLite format 3\0", 16))
        return FileKind::LocalStore;
    return FileKind::Other;
}

} // namespace

DatabaseFileSession::DatabaseFileSession(std::shared_ptr<StoreConnectionCache> stores,
                                         std::shared_ptr<NsfFileCache> nsfFiles)
    : m_stores(stores ? std::move(stores) : std::make_shared<StoreConnectionCache>()),
      m_nsfFiles(nsfFiles ? std::move(nsfFiles) : std::make_shared<NsfFileCache>())
{}

std::shared_ptr<NotesDatabase> DatabaseFileSession::GetDatabase(const QString& server,
                                                                const QString& path)
{
    if (!server.isEmpty())
        throw OperationError(
            QStringLiteral("Cannot open \"%1\" on the server \"%2\": only local databases "
                           "can be opened")
                .arg(path, server));
    if (path.isEmpty())
        throw OperationError(QStringLiteral("No database file was given"));
    switch (kindOf(path)) {
    case FileKind::NotesDatabase:
        return NsfSession(m_nsfFiles).GetDatabase(server, path);
    case FileKind::LocalStore:
        return LocalStoreSession(m_stores).GetDatabase(server, path);
    case FileKind::Other:
        break;
    }
    throw OperationError(
        QStringLiteral("\"%1\" is neither a Notes database nor a Tarvik mail store").arg(path));
}

} // namespace tarvik::notes
