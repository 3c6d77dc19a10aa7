#include "app/ExportLog.h"

namespace tarvik {

void ExportLog::open(const QString& path)
{
    close();
    m_failure.clear();
    m_path = path;
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        fail(m_file.errorString());
}

void ExportLog::writeLine(const QString& line)
{
    if (!m_file.isOpen())
        return;
    // One entry, one line: a line break or other control character from a
    // subject or folder name must not start a line that looks like an entry.
    QString text = line;
    for (QChar& c : text) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != u'\t') || (u >= 0x7F && u < 0xA0) || u == 0x2028 || u == 0x2029)
            c = u' ';
    }
    const QByteArray bytes = text.toLocal8Bit() + "\r\n";
    if (m_file.write(bytes) != bytes.size())
        fail(m_file.errorString());
}

void ExportLog::close()
{
    if (!m_file.isOpen())
        return;
    if (!m_file.flush())
        fail(m_file.errorString());
    m_file.close();
}

void ExportLog::fail(const QString& why)
{
    if (m_failure.isEmpty())
        m_failure = QStringLiteral("The export log %1 could not be written: %2").arg(m_path, why);
    m_file.close();
}

} // namespace tarvik
