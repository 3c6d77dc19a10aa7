#include "mail/AttachmentFile.h"

#include "base/OperationError.h"
#include "base/Platform.h"
#include "mail/MailAddress.h"

#include <QFileInfo>

namespace tarvik::mail {

namespace {

struct TypeByExtension {
    const char* extension;
    const char* type;
};

// Deliberately fixed (not the system's MIME database) so a message comes out
// the same on every machine.
constexpr TypeByExtension knownTypes[] = {
    {"txt", "text/plain"},
    {"csv", "text/csv"},
    {"htm", "text/html"},
    {"html", "text/html"},
    {"xml", "application/xml"},
    {"rtf", "application/rtf"},
    {"pdf", "application/pdf"},
    {"doc", "application/msword"},
    {"dot", "application/msword"},
    {"xls", "application/vnd.ms-excel"},
    {"ppt", "application/vnd.ms-powerpoint"},
    {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
    {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
    {"pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
    {"odt", "application/vnd.oasis.opendocument.text"},
    {"ods", "application/vnd.oasis.opendocument.spreadsheet"},
    {"odp", "application/vnd.oasis.opendocument.presentation"},
    {"zip", "application/zip"},
    {"gz", "application/gzip"},
    {"7z", "application/x-7z-compressed"},
    {"jpg", "image/jpeg"},
    {"jpeg", "image/jpeg"},
    {"png", "image/png"},
    {"gif", "image/gif"},
    {"bmp", "image/bmp"},
    {"tif", "image/tiff"},
    {"tiff", "image/tiff"},
    {"svg", "image/svg+xml"},
    {"mp3", "audio/mpeg"},
    {"wav", "audio/wav"},
    {"mp4", "video/mp4"},
    {"avi", "video/x-msvideo"},
    {"ics", "text/calendar"},
    {"vcf", "text/vcard"},
};

} // namespace

QByteArray contentTypeForFileName(const QString& fileName)
{
    const qsizetype dot = fileName.lastIndexOf(u'.');
    if (dot >= 0) {
        const QString extension = fileName.mid(dot + 1).toLower();
        for (const auto& known : knownTypes) {
            if (extension == QLatin1String(known.extension))
                return known.type;
        }
    }
    return "application/octet-stream";
}

AttachmentFile::AttachmentFile(QString fileName, gmime::Ref<GMimeStream> stream)
    : m_fileName(std::move(fileName)), m_stream(std::move(stream))
{}

std::shared_ptr<AttachmentFile> AttachmentFile::open(const QString& path,
                                                     const QString& displayName)
{
    gmime::ensureInitialised();
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        throw OperationError(QStringLiteral("The file \"%1\" does not exist.").arg(path));
    // Checked before opening: a folder, a pipe or a device is no attachment,
    // and opening a pipe could block.
    if (!info.isFile())
        throw OperationError(QStringLiteral("\"%1\" is not a file.").arg(path));
    QString name = cleanHeaderText(displayName);
    if (name.trimmed().isEmpty())
        name = cleanHeaderText(info.fileName());
    if (name.trimmed().isEmpty())
        throw OperationError(QStringLiteral("\"%1\" has no file name.").arg(path));

    QString error;
    platform::FileDescriptor file = platform::openForRead(path, &error);
    if (!file)
        throw OperationError(QStringLiteral("Cannot open the file \"%1\": %2").arg(path, error));
    auto stream = gmime::take(g_mime_stream_fs_new(file.release()));
    return std::shared_ptr<AttachmentFile>(new AttachmentFile(name, std::move(stream)));
}

QByteArray AttachmentFile::contentType() const
{
    return contentTypeForFileName(m_fileName);
}

gmime::Ref<GMimeStream> AttachmentFile::content() const
{
    // A substream shares the open file but keeps its own position, so every
    // save reads the file from its first byte.
    return gmime::take(g_mime_stream_substream(m_stream.get(), 0, -1));
}

} // namespace tarvik::mail
