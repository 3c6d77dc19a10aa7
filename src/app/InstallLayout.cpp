#include "app/InstallLayout.h"

#include "base/AppIdentity.h"
#include "base/Platform.h"

#include <QDir>
#include <QFileInfo>

#ifndef TARVIK_DATA_FROM_PROGRAM
#define TARVIK_DATA_FROM_PROGRAM ""
#endif

namespace tarvik::install {

namespace {

// The folder with the system's separators, ending in one.
QString withSeparator(const QString& folder)
{
    QString native = QDir::toNativeSeparators(folder);
    // A folder that is a drive's or the file system's root already ends in one.
    if (!native.endsWith(platform::separator()))
        native += platform::separator();
    return native;
}

bool holdsGuide(const QString& folder)
{
    const QDir dir(folder);
    return QFileInfo(dir.filePath(identity::helpFileName)).isFile() ||
           QFileInfo(dir.filePath(QStringLiteral("help/index.html"))).isFile();
}

} // namespace

QString dataFolderFromProgram()
{
    return QStringLiteral(TARVIK_DATA_FROM_PROGRAM);
}

QStringList helpFolders(const QString& programFolder, const QString& dataFromProgram)
{
    QStringList folders{programFolder};
    if (dataFromProgram.isEmpty() || dataFromProgram == QStringLiteral("."))
        return folders;
    // Qt names the program's folder with "/" on every system.
    const QString data = QDir::isAbsolutePath(dataFromProgram)
                             ? QDir::cleanPath(dataFromProgram)
                             : QDir::cleanPath(programFolder + QLatin1Char('/') + dataFromProgram);
    if (data != QDir::cleanPath(programFolder))
        folders.append(data);
    return folders;
}

QString findHelpFile(const QString& programFolder, const QString& dataFromProgram)
{
    const QStringList folders = helpFolders(programFolder, dataFromProgram);
    QString chosen = folders.first();
    for (const QString& folder : folders) {
        if (holdsGuide(folder)) {
            chosen = folder;
            break;
        }
    }
    return withSeparator(chosen) + identity::helpFileName;
}

} // namespace tarvik::install
