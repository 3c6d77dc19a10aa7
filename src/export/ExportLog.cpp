#include "export/ExportLog.h"

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
    const QByteArray bytes = line.toLocal8Bit() + "\r\n";
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
