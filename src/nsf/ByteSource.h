#pragma once

#include "base/os/FileDescriptor.h"
#include "nsf/ByteReader.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik::nsf {

// Where the database's bytes come from. The reader asks for pieces at file offsets as it needs
// them, so that nothing ever holds the whole file.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t size() const noexcept = 0;
    // Fills `out` with the bytes at `offset`. A range past the end throws FormatError (Damaged)
    // naming `structure`; a failing read throws FormatError too, with the system's reason.
    virtual void readAt(std::uint64_t offset, std::span<std::uint8_t> out,
                        std::string_view structure) const = 0;

    // `length` bytes at `offset`, checked against the size first, so that a length taken from
    // the file never makes an allocation larger than the file.
    std::vector<std::uint8_t> read(std::uint64_t offset, std::uint64_t length,
                                   std::string_view structure) const;
    // Throws FormatError (Damaged) unless [offset, offset + length) lies inside the source.
    void requireRange(std::uint64_t offset, std::uint64_t length, std::string_view structure) const;
};

// A file opened read-only, read piece by piece at offsets. Owns its descriptor.
class FileSource final : public ByteSource {
public:
    // Throws FormatError (Damaged, offset 0) naming the path and the system's reason when the
    // file cannot be opened or is not a regular file.
    explicit FileSource(const std::string& path);

    std::uint64_t size() const noexcept override { return m_size; }
    void readAt(std::uint64_t offset, std::span<std::uint8_t> out,
                std::string_view structure) const override;

private:
    os::FileDescriptor m_fd;
    std::uint64_t m_size = 0;
    std::string m_path;
};

// Bytes already in memory (a fuzzer's input, a test's hand-made file). Does not copy: the
// bytes must outlive the source.
class MemorySource final : public ByteSource {
public:
    explicit MemorySource(Bytes bytes) : m_bytes(bytes) {}
    std::uint64_t size() const noexcept override { return m_bytes.size(); }
    void readAt(std::uint64_t offset, std::span<std::uint8_t> out,
                std::string_view structure) const override;

private:
    Bytes m_bytes;
};

} // namespace tarvik::nsf
