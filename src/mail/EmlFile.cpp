#include "mail/EmlFile.h"

#include "base/OperationError.h"
#include "base/Platform.h"
#include "mail/MailComposer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>

namespace tarvik::mail {

namespace {

// A file stream that treats a short write as a failure and remembers the
// first error: GMime's own streams pass a short count on, and the layers above
// do not all check it, so a disk that fills up on the last write could
// otherwise leave a truncated message that looks complete.
struct CheckedFileStream {
    GMimeStreamFs parent;
    int error;
};
struct CheckedFileStreamClass {
    GMimeStreamFsClass parent_class;
};

G_DEFINE_TYPE(CheckedFileStream, checked_file_stream, GMIME_TYPE_STREAM_FS)

ssize_t checkedWrite(GMimeStream* stream, const char* buffer, size_t length)
{
    auto* self = reinterpret_cast<CheckedFileStream*>(stream);
    if (self->error != 0)
        return -1;
    errno = 0;
    const ssize_t n =
        GMIME_STREAM_CLASS(checked_file_stream_parent_class)->write(stream, buffer, length);
    if (n < 0 || size_t(n) != length) {
        self->error = errno != 0 ? errno : EIO;
        return -1;
    }
    return n;
}

// Flushing the buffer above this stream hands its data down; the data is then
// with the operating system, which is all a save waits for (the export syncs
// the file system once at its end).
int flushWithoutSync(GMimeStream*)
{
    return 0;
}

void checked_file_stream_class_init(CheckedFileStreamClass* klass)
{
    GMIME_STREAM_CLASS(klass)->write = checkedWrite;
    GMIME_STREAM_CLASS(klass)->flush = flushWithoutSync;
}

void checked_file_stream_init(CheckedFileStream* self)
{
    self->error = 0;
}

// Owns the file from now on; closes it when the stream goes.
gmime::Ref<GMimeStream> checkedFileStream(platform::FileDescriptor file)
{
    auto* self =
        static_cast<CheckedFileStream*>(g_object_new(checked_file_stream_get_type(), nullptr));
    self->parent.owner = TRUE;
    self->parent.eos = FALSE;
    self->parent.fd = file.release();
    g_mime_stream_construct(GMIME_STREAM(self), 0, -1);
    return gmime::take(GMIME_STREAM(self));
}

int streamError(GMimeStream* stream, int fallback)
{
    const int error = reinterpret_cast<CheckedFileStream*>(stream)->error;
    return error != 0 ? error : fallback;
}

// The file a message is written to before it takes its name: a file without
// a name where the file system can make one (nothing but the finished message
// ever appears in the folder, and creating it costs less than a named file),
// else a temporary name beside the target. Removed unless put in place.
class PendingFile {
public:
    explicit PendingFile(const QString& folder)
    {
        m_file = platform::createAnonymousFile(folder);
        if (m_file) {
            // A second descriptor names the file once the stream has closed the
            // first.
            m_link = m_file.duplicate();
            if (m_link)
                return;
            m_file = {};
        }
        static constexpr char letters[] =
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
        QString error;
        for (int attempt = 0; attempt < 32; ++attempt) {
            QString name = QStringLiteral(".tarvik-");
            for (int i = 0; i < 6; ++i)
                name.append(QLatin1Char(letters[QRandomGenerator::system()->bounded(62)]));
            const QString path = folder + QLatin1Char('/') + name + QStringLiteral(".tmp");
            m_file = platform::createNewFile(path, &error);
            if (m_file) {
                m_path = path;
                return;
            }
            if (!QFileInfo(path).isSymLink() && !QFileInfo::exists(path))
                break;
        }
        throw OperationError(QStringLiteral("Cannot create a file in the folder \"%1\": %2")
                                 .arg(QDir::toNativeSeparators(folder), error));
    }
    ~PendingFile()
    {
        if (!m_kept && !m_path.isEmpty())
            QFile::remove(m_path);
    }
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    platform::FileDescriptor takeFile() { return std::move(m_file); }

    // Gives the finished file its name; fails, changing nothing, when the
    // name exists.
    bool putInPlace(const QString& target, QString* error)
    {
        const bool placed = m_link ? platform::linkAnonymousFile(m_link, target, error)
                                   : platform::moveNoReplace(m_path, target, error);
        m_kept = placed;
        return placed;
    }

private:
    QString m_path; // empty for a file without a name
    platform::FileDescriptor m_file;
    platform::FileDescriptor m_link; // the file without a name, until it has one
    bool m_kept = false;
};

[[noreturn]] void failWrite(const QString& path, int error)
{
    if (error == 0)
        error = EIO;
    throw OperationError(
        QStringLiteral("Cannot write the message file \"%1\": %2")
            .arg(QDir::toNativeSeparators(path), QString::fromUtf8(g_strerror(error))));
}

} // namespace

void writeMessageFile(GMimeObject* message, const QString& path)
{
    if (path.trimmed().isEmpty())
        throw OperationError(QStringLiteral("No file name was given for the message."));
    const QFileInfo target(QDir::fromNativeSeparators(path));
    const QString folder = target.absolutePath();
    if (!QFileInfo(folder).isDir()) {
        throw OperationError(QStringLiteral("The folder \"%1\" does not exist.")
                                 .arg(QDir::toNativeSeparators(folder)));
    }
    if (target.exists() || target.isSymLink()) {
        throw OperationError(
            QStringLiteral("The file \"%1\" already exists.").arg(QDir::toNativeSeparators(path)));
    }

    PendingFile pending(folder);
    {
        auto stream = checkedFileStream(pending.takeFile());
        // GMime writes a message in many small pieces; the buffer hands them
        // to the file in blocks.
        auto buffered =
            gmime::take(g_mime_stream_buffer_new(stream.get(), GMIME_STREAM_BUFFER_BLOCK_WRITE));
        const auto format = crlfFormat();
        errno = 0;
        if (g_mime_object_write_to_stream(message, format.get(), buffered.get()) < 0 ||
            g_mime_stream_flush(buffered.get()) != 0)
            failWrite(path, streamError(stream.get(), errno));
        // Checked again: a failing write deep inside GMime may have been
        // dropped on the way up.
        if (streamError(stream.get(), 0) != 0)
            failWrite(path, streamError(stream.get(), 0));
        // No fsync for each message: it made every save wait for the disk.
        // The export syncs the file system once at its end; a failure of a
        // single process never leaves a partial file, as the message only
        // takes its name once it is complete. Errors reported at close count.
        if (g_mime_stream_close(stream.get()) != 0)
            failWrite(path, errno);
    }

    QString error;
    if (!pending.putInPlace(target.absoluteFilePath(), &error)) {
        // Someone may have taken the name while the message was written.
        const QFileInfo now(target.absoluteFilePath());
        if (now.exists() || now.isSymLink()) {
            throw OperationError(QStringLiteral("The file \"%1\" already exists.")
                                     .arg(QDir::toNativeSeparators(path)));
        }
        throw OperationError(QStringLiteral("Cannot save the message file \"%1\": %2")
                                 .arg(QDir::toNativeSeparators(path), error));
    }
}

} // namespace tarvik::mail
