#include "mail/EmlFile.h"

#include "base/OperationError.h"
#include "base/Platform.h"
#include "base/os/Files.h"
#include "mail/MailComposer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

namespace tarvik::mail {

namespace {

// The stream a message is written through: GMime hands over a message in many
// small pieces, which are gathered here and given to the file in large blocks
// without seeking (GMime's own file stream seeks before every write). A short
// write is a failure and the first error is kept: GMime's own streams pass a
// short count on, and the layers above do not all check it, so a disk that
// fills up on the last write could otherwise leave a truncated message that
// looks complete.
constexpr std::size_t kOutputBlock = std::size_t(1) << 16;

struct CheckedFileStream {
    GMimeStreamFs parent;
    int error;
    std::size_t used;
    char* block; // kOutputBlock bytes
};
struct CheckedFileStreamClass {
    GMimeStreamFsClass parent_class;
};

G_DEFINE_TYPE(CheckedFileStream, checked_file_stream, GMIME_TYPE_STREAM_FS)

bool writeOut(CheckedFileStream* self, const char* bytes, std::size_t length)
{
    try {
        // The descriptor stays the stream's; this view of it is let go unclosed.
        os::FileDescriptor fd(self->parent.fd);
        struct Release {
            os::FileDescriptor& fd;
            ~Release() { fd.release(); }
        } release{fd};
        os::writeAll(fd, {reinterpret_cast<const std::uint8_t*>(bytes), length});
        return true;
    } catch (const std::system_error& e) {
        self->error = e.code().value() != 0 ? e.code().value() : EIO;
        return false;
    }
}

bool drain(CheckedFileStream* self)
{
    if (self->error != 0)
        return false;
    const std::size_t used = std::exchange(self->used, 0);
    return used == 0 || writeOut(self, self->block, used);
}

ssize_t checkedWrite(GMimeStream* stream, const char* buffer, size_t length)
{
    auto* self = reinterpret_cast<CheckedFileStream*>(stream);
    if (self->error != 0)
        return -1;
    if (self->used + length > kOutputBlock && !drain(self))
        return -1;
    if (length >= kOutputBlock) {
        if (!writeOut(self, buffer, length))
            return -1;
    } else {
        std::memcpy(self->block + self->used, buffer, length);
        self->used += length;
    }
    stream->position += gint64(length);
    return ssize_t(length);
}

// Flushing hands the gathered bytes to the operating system, which is all a
// save waits for (the export syncs the file system once at its end).
int checkedFlush(GMimeStream* stream)
{
    return drain(reinterpret_cast<CheckedFileStream*>(stream)) ? 0 : -1;
}

int checkedClose(GMimeStream* stream)
{
    const bool drained = drain(reinterpret_cast<CheckedFileStream*>(stream));
    const int closed = GMIME_STREAM_CLASS(checked_file_stream_parent_class)->close(stream);
    return drained ? closed : -1;
}

void checkedFinalize(GObject* object)
{
    g_free(reinterpret_cast<CheckedFileStream*>(object)->block);
    G_OBJECT_CLASS(checked_file_stream_parent_class)->finalize(object);
}

void checked_file_stream_class_init(CheckedFileStreamClass* klass)
{
    G_OBJECT_CLASS(klass)->finalize = checkedFinalize;
    GMIME_STREAM_CLASS(klass)->write = checkedWrite;
    GMIME_STREAM_CLASS(klass)->flush = checkedFlush;
    GMIME_STREAM_CLASS(klass)->close = checkedClose;
}

void checked_file_stream_init(CheckedFileStream* self)
{
    self->error = 0;
    self->used = 0;
    self->block = static_cast<char*>(g_malloc(kOutputBlock));
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
    const QString absolute = target.absoluteFilePath();
    const QString folder = QFileInfo(absolute).path();
    if (!QFileInfo(folder).isDir()) {
        throw OperationError(QStringLiteral("The folder \"%1\" does not exist.")
                                 .arg(QDir::toNativeSeparators(folder)));
    }
    if (platform::nameIsTaken(absolute)) {
        throw OperationError(
            QStringLiteral("The file \"%1\" already exists.").arg(QDir::toNativeSeparators(path)));
    }

    PendingFile pending(folder);
    {
        auto stream = checkedFileStream(pending.takeFile());
        const auto format = crlfFormat();
        errno = 0;
        if (g_mime_object_write_to_stream(message, format.get(), stream.get()) < 0 ||
            g_mime_stream_flush(stream.get()) != 0)
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
    if (!pending.putInPlace(absolute, &error)) {
        // Someone may have taken the name while the message was written.
        if (platform::nameIsTaken(absolute)) {
            throw OperationError(QStringLiteral("The file \"%1\" already exists.")
                                     .arg(QDir::toNativeSeparators(path)));
        }
        throw OperationError(QStringLiteral("Cannot save the message file \"%1\": %2")
                                 .arg(QDir::toNativeSeparators(path), error));
    }
}

} // namespace tarvik::mail
