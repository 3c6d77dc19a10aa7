#include "base/Platform.h"

#include <QStringList>

// The services of Platform.h on Windows. So far only those that differ in their
// rules rather than in system calls are written; the file services (descriptors,
// links, signals, the private temporary folder) are not, so a Windows build stops
// at linking until they are. Nothing here has been built or run on Windows.
namespace tarvik::platform {

void keepFreedMemoryForReuse()
{
    // The Windows heap keeps freed blocks for reuse on its own.
}

QString defaultLogPath()
{
    return QStringLiteral("C:\\Log.txt");
}

qsizetype nameLength(const QString& name)
{
    // The file system counts UTF-16 code units.
    return name.size();
}

QString adjustNameForSystem(const QString& name)
{
    QString n = name;
    // Windows drops trailing dots and blanks, so two names could become one.
    while (n.endsWith(QLatin1Char('.')) || n.endsWith(QLatin1Char(' ')))
        n[n.size() - 1] = QLatin1Char('_');
    static const QStringList reserved = {
        QStringLiteral("CON"),  QStringLiteral("PRN"),  QStringLiteral("AUX"),
        QStringLiteral("NUL"),  QStringLiteral("COM1"), QStringLiteral("COM2"),
        QStringLiteral("COM3"), QStringLiteral("COM4"), QStringLiteral("COM5"),
        QStringLiteral("COM6"), QStringLiteral("COM7"), QStringLiteral("COM8"),
        QStringLiteral("COM9"), QStringLiteral("LPT1"), QStringLiteral("LPT2"),
        QStringLiteral("LPT3"), QStringLiteral("LPT4"), QStringLiteral("LPT5"),
        QStringLiteral("LPT6"), QStringLiteral("LPT7"), QStringLiteral("LPT8"),
        QStringLiteral("LPT9")};
    // A device name stays a device name whatever extension follows it.
    const QString stem = n.section(QLatin1Char('.'), 0, 0).trimmed();
    if (reserved.contains(stem, Qt::CaseInsensitive))
        n.prepend(QLatin1Char('_'));
    return n;
}

QStringList helpViewers()
{
    return {QStringLiteral("hh")};
}

QStringList looseFontFiles()
{
    // Tahoma comes with the system.
    return {};
}

} // namespace tarvik::platform
