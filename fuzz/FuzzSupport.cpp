#include "FuzzSupport.h"

#include "base/Platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <unistd.h>

namespace tarvik::fuzz {

Fields::Fields(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return;
    m_flags = data[0];
    const char* begin = reinterpret_cast<const char*>(data) + 1;
    const char* end = reinterpret_cast<const char*>(data) + size;
    const char* start = begin;
    for (const char* p = begin; p != end; ++p) {
        if (static_cast<std::uint8_t>(*p) == 0xFF) {
            m_fields.emplace_back(start, p - start);
            start = p + 1;
        }
    }
    m_fields.emplace_back(start, end - start);
}

QByteArray Fields::bytes(std::size_t i) const
{
    return i < m_fields.size() ? m_fields[i] : QByteArray();
}

QString Fields::text(std::size_t i, bool utf16) const
{
    const QByteArray b = bytes(i);
    if (!utf16)
        return QString::fromUtf8(b);
    QString s;
    for (qsizetype k = 0; k + 1 < b.size(); k += 2)
        s.append(QChar(char16_t(std::uint8_t(b[k]) | (std::uint8_t(b[k + 1]) << 8))));
    return s;
}

Scratch& Scratch::instance()
{
    static Scratch scratch;
    return scratch;
}

Scratch::Scratch()
{
    const QString shm = QStringLiteral("/dev/shm");
    const QString base =
        QFileInfo(shm).isDir() && QFileInfo(shm).isWritable() ? shm : QDir::tempPath();
    QByteArray templ = QFile::encodeName(base + QStringLiteral("/tarvik-fuzz-XXXXXX"));
    if (!::mkdtemp(templ.data())) {
        std::perror("tarvik fuzz: cannot make a scratch folder");
        std::abort();
    }
    m_path = QFile::decodeName(templ);
}

Scratch::~Scratch()
{
    platform::removeFolderTree(m_path);
}

void Scratch::reset() const
{
    QDir dir(m_path);
    const QStringList entries =
        dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& e : entries) {
        const QString p = dir.filePath(e);
        if (QFileInfo(p).isDir() && !QFileInfo(p).isSymLink())
            platform::removeFolderTree(p);
        else
            QFile::remove(p);
    }
}

void limitFileSize(std::int64_t bytes)
{
    platform::ignoreFileSizeLimitSignal();
    struct rlimit limit {};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    if (limit.rlim_max == RLIM_INFINITY || static_cast<rlim_t>(bytes) < limit.rlim_max)
        limit.rlim_cur = static_cast<rlim_t>(bytes);
    ::setrlimit(RLIMIT_FSIZE, &limit);
}

void fail(const char* file, int line, const char* what, const QString& detail)
{
    std::fprintf(stderr, "%s:%d: check failed: %s\n  %s\n", file, line, what,
                 detail.toUtf8().constData());
    std::fflush(stderr);
    std::abort();
}

} // namespace tarvik::fuzz
