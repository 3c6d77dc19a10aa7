// The names the export gives folders and files, from any database title,
// folder name, subject and attachment name: every path part is a single,
// visible, non-empty name within the file system's limit, and the files made
// from them land inside the export root on a real file system.

#include "FuzzSupport.h"
#include "app/FileNames.h"
#include "app/FolderTree.h"
#include "app/MailFolders.h"
#include "base/Text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarvik;
using namespace tarvik::fuzz;

namespace {

// The longest number the message builder puts after a subject.
const QString longestNumber = QStringLiteral("9999999999.eml");

void checkPart(const QString& part, const char* what)
{
    const QByteArray bytes = QFile::encodeName(part);
    const QString shown = QString::fromLatin1(what) + QStringLiteral(" \"") + part +
                          QStringLiteral("\" (%1 bytes)").arg(bytes.size());
    FUZZ_CHECK(!bytes.isEmpty(), shown);
    FUZZ_CHECK(bytes != "." && bytes != "..", shown);
    FUZZ_CHECK(!bytes.startsWith('.'), shown);
    FUZZ_CHECK(!bytes.contains('/') && !bytes.contains('\0'), shown);
    FUZZ_CHECK(bytes.size() <= 255, shown);
}

// Makes one folder or file named part inside parent, as the export would.
QString make(const QString& parent, const QString& part, bool folder)
{
    const QString path = parent + u'/' + part;
    const QByteArray p = QFile::encodeName(path);
    const int rc = folder ? ::mkdir(p.constData(), 0700)
                          : ::open(p.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
    FUZZ_CHECK(rc >= 0 || errno == EEXIST,
               QStringLiteral("cannot make %1: %2")
                   .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    if (!folder && rc >= 0)
        ::close(rc);
    return path;
}

void checkInside(const QString& path, const QString& root)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    FUZZ_CHECK(!canonical.isEmpty() && canonical.startsWith(root + u'/'),
               QStringLiteral("%1 is %2, outside %3").arg(path, canonical, root));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Fields fields(data, size);
    const bool utf16 = fields.flags() & 1;
    const QString title = fields.text(0, utf16);
    const QString folderName = fields.text(1, utf16);
    const QString subject = fields.text(2, utf16);
    const QString attachment = fields.text(3, utf16);

    // As the export run and the message builder compose them.
    const QString cleanedTitle = trimBlanks(names::cleanFolderName(trimBlanks(title)));
    const QString titlePart = cleanedTitle.isEmpty() ? QString() : names::folderPart(cleanedTitle);
    const QString folderPart =
        names::folderPart(trimBlanks(names::cleanFolderName(userFolderName(folderName))));
    const QString stem = names::subjectPart(names::cleanSubject(subject), longestNumber.size());
    const QString attachmentPart = names::attachmentFileName(attachment);

    if (!cleanedTitle.isEmpty())
        checkPart(titlePart, "title");
    checkPart(folderPart, "folder");
    checkPart(stem + longestNumber, "message file");
    FUZZ_CHECK(stem.isEmpty() || !stem.startsWith(u'.'), stem);
    checkPart(attachmentPart, "attachment");

    const Scratch& scratch = Scratch::instance();
    scratch.reset();
    const QString root = QFileInfo(scratch.path()).canonicalFilePath();
    const QString exportRoot = titlePart.isEmpty() ? root : make(root, titlePart, true);
    const QString folder = make(exportRoot, folderPart, true);
    checkInside(make(folder, stem + longestNumber, false), root);
    const QString extracted = make(root, QStringLiteral("1"), true);
    checkInside(make(extracted, attachmentPart, false), root);
    return 0;
}
