#include "nsf/ByteSource.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvik::nsf {

void ByteSource::requireRange(std::uint64_t offset, std::uint64_t length,
                              std::string_view structure) const
{
    const std::uint64_t total = size();
    if (offset > total || length > total - offset)
        throw FormatError(FailureKind::Damaged, std::string(structure), offset,
                          std::to_string(length) + " bytes would reach past the end of the " +
                              std::to_string(total) + "-byte file");
}

std::vector<std::uint8_t> ByteSource::read(std::uint64_t offset, std::uint64_t length,
                                           std::string_view structure) const
{
    requireRange(offset, length, structure);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(length));
    readAt(offset, out, structure);
    return out;
}

FileSource::FileSource(const std::string& path) : m_path(path)
{
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0)
        throw FormatError(FailureKind::Damaged, "file " + path, 0, std::strerror(errno));
    struct stat st {};
    if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = errno;
        ::close(m_fd);
        m_fd = -1;
        throw FormatError(FailureKind::Damaged, "file " + path, 0,
                          S_ISREG(st.st_mode) ? std::strerror(error) : "not a regular file");
    }
    m_size = static_cast<std::uint64_t>(st.st_size);
}

FileSource::~FileSource()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void FileSource::readAt(std::uint64_t offset, std::span<std::uint8_t> out,
                        std::string_view structure) const
{
    requireRange(offset, out.size(), structure);
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n =
            ::pread(m_fd, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw FormatError(FailureKind::Damaged, std::string(structure), offset + done,
                              n == 0 ? std::string("the file ended early (changed while open?)")
                                     : "cannot read " + m_path + ": " + std::strerror(errno));
        done += static_cast<std::size_t>(n);
    }
}

void MemorySource::readAt(std::uint64_t offset, std::span<std::uint8_t> out,
                          std::string_view structure) const
{
    requireRange(offset, out.size(), structure);
    if (!out.empty())
        std::memcpy(out.data(), m_bytes.data() + offset, out.size());
}

} // namespace tarvik::nsf
