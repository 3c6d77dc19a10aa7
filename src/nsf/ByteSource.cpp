#include "nsf/ByteSource.h"

#include "base/os/Files.h"

#include <cstring>
#include <system_error>

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
    try {
        os::ReadOnlyFile file = os::openReadOnly(path);
        m_fd = std::move(file.fd);
        m_size = file.size;
    } catch (const std::system_error& e) {
        throw FormatError(FailureKind::Damaged, "file " + path, 0, e.what());
    }
}

void FileSource::readAt(std::uint64_t offset, std::span<std::uint8_t> out,
                        std::string_view structure) const
{
    requireRange(offset, out.size(), structure);
    std::size_t done = 0;
    try {
        done = os::readAt(m_fd, offset, out);
    } catch (const std::system_error& e) {
        throw FormatError(FailureKind::Damaged, std::string(structure), offset,
                          "cannot read " + m_path + ": " + e.code().message());
    }
    if (done < out.size())
        throw FormatError(FailureKind::Damaged, std::string(structure), offset + done,
                          "the file ended early (changed while open?)");
}

void MemorySource::readAt(std::uint64_t offset, std::span<std::uint8_t> out,
                          std::string_view structure) const
{
    requireRange(offset, out.size(), structure);
    if (!out.empty())
        std::memcpy(out.data(), m_bytes.data() + offset, out.size());
}

} // namespace tarvik::nsf
