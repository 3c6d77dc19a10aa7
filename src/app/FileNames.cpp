#include "app/FileNames.h"

#include "base/Platform.h"

namespace tarvik::names {

namespace {

// The nine characters a Windows file name cannot hold.
const QString forbidden = QStringLiteral(":?\\/*\"<>|");

bool isControl(QChar c)
{
    return c.unicode() < 0x20 || c.unicode() == 0x7F ||
           (c.unicode() >= 0x80 && c.unicode() < 0xA0) || c == QChar::LineSeparator ||
           c == QChar::ParagraphSeparator;
}

QString replaceControls(const QString& text, const QString& replacement)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        if (isControl(c))
            out += replacement;
        else
            out += c;
    }
    return out;
}

// "." and ".." name folders themselves; any other name made only of dots is
// kept apart from them too.
QString notDots(const QString& name)
{
    bool onlyDots = !name.isEmpty();
    for (QChar c : name)
        onlyDots = onlyDots && c == QLatin1Char('.');
    if (!onlyDots)
        return name;
    return QString(name.size(), QLatin1Char('-'));
}

} // namespace

QString cleanFolderName(const QString& name)
{
    QString out = name;
    for (QChar c : forbidden)
        out.replace(c, QLatin1Char('-'));
    return out;
}

QString cleanSubject(const QString& subject)
{
    QString out = subject;
    for (QChar c : forbidden)
        out.remove(c);
    return out;
}

QString cutToLength(const QString& text, qsizetype limit)
{
    if (platform::nameLength(text) <= limit)
        return text;
    // Shorten character by character from a first estimate; never split a
    // surrogate pair.
    qsizetype end = qMin(text.size(), limit);
    while (end > 0 && platform::nameLength(text.left(end)) > limit)
        --end;
    if (end > 0 && text.at(end - 1).isHighSurrogate())
        --end;
    return text.left(end);
}

QString folderPart(const QString& cleanedName)
{
    QString name = replaceControls(cleanedName, QStringLiteral("-"));
    // Separators of this platform that the cleaning did not remove.
    name.replace(QLatin1Char('/'), QLatin1Char('-'));
    name.replace(QLatin1Char('\\'), QLatin1Char('-'));
    name = notDots(name);
    if (name.isEmpty())
        name = QStringLiteral("-");
    name = cutToLength(platform::adjustNameForSystem(name), platform::maxNameLength);
    return platform::adjustNameForSystem(name);
}

QString numberedFolderPart(const QString& part, int n)
{
    const QString suffix = QStringLiteral(" (%1)").arg(n);
    return cutToLength(part, platform::maxNameLength - platform::nameLength(suffix)) + suffix;
}

QString subjectPart(const QString& cleanedSubject, int reserve)
{
    QString name = replaceControls(cleanedSubject, QString());
    name.remove(QLatin1Char('/'));
    name.remove(QLatin1Char('\\'));
    name = cutToLength(name, platform::maxNameLength - reserve);
    // The number and ".eml" follow, so the name is never "." or "..".
    return name.isEmpty() ? name : platform::adjustNameForSystem(name);
}

QString attachmentFileName(const QString& storedName)
{
    QString name = replaceControls(storedName, QString());
    // Only the last part: no folders, no drive.
    for (QChar sep : {QLatin1Char('/'), QLatin1Char('\\'), QLatin1Char(':')})
        name = name.section(sep, -1);
    for (QChar c : forbidden)
        name.remove(c);
    name = name.trimmed();
    name = notDots(name);
    if (name.isEmpty())
        name = QStringLiteral("attachment");
    name = platform::adjustNameForSystem(name);
    if (platform::nameLength(name) > platform::maxNameLength) {
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        const QString extension = dot > 0 && name.size() - dot <= 16 ? name.mid(dot) : QString();
        name = cutToLength(name.left(name.size() - extension.size()),
                           platform::maxNameLength - platform::nameLength(extension)) +
               extension;
    }
    return name;
}

} // namespace tarvik::names
