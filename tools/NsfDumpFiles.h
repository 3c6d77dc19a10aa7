#pragma once

// Where tarvik-nsfdump --extract puts attachments: one folder, files created in it only,
// under names that cannot reach outside it, never over a file that is already there.

#include "base/os/FileDescriptor.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tarvik::nsfdump {

// UTF-8 text with every byte that does not belong to a valid sequence replaced by U+FFFD, so
// that what the dump prints is always valid UTF-8 (and its JSON parses).
std::string validUtf8(std::string_view text);

// The longest name safeFileName gives, in bytes. A distinct-name counter and the damage mark
// come on top and still stay well below the 255 bytes file systems allow.
constexpr std::size_t kMaxSafeName = 200;

// An attachment's name (UTF-8, as the database stores it) as a plain file name: only the part
// after the last '/' or '\', every control character, separator, character Windows refuses
// (<>:"|?*), invalid UTF-8 byte and direction override replaced by '_', runs of dots cut to
// one, leading dots and spaces and trailing dots and spaces replaced or dropped, cut to
// kMaxSafeName bytes at a character boundary keeping a short extension. Never empty, never
// "." or "..".
std::string safeFileName(std::string_view name);

class ExtractFolder;

// A new file in the extraction folder, open for writing. Dropped unfinished, it is removed.
class ExtractFile {
public:
    ExtractFile(ExtractFile&& other) noexcept;
    ExtractFile& operator=(ExtractFile&&) = delete;
    ExtractFile(const ExtractFile&) = delete;
    ~ExtractFile();

    const std::string& name() const noexcept { return m_name; }
    // Writes all of `bytes`; throws std::system_error when they cannot be written.
    void write(std::span<const std::uint8_t> bytes);
    // The file is complete: closes it and keeps it. Throws std::system_error when closing
    // fails (a write the system held back failed).
    void keep();
    // What was written is all that could be read: closes the file and keeps it under its name
    // with ".damaged" added (made distinct as well), so that it is never taken for the whole
    // attachment. Returns the name it now has.
    std::string keepDamaged();
    // Removes the file.
    void discard() noexcept;

private:
    friend class ExtractFolder;
    ExtractFile(const ExtractFolder& folder, os::FileDescriptor fd, std::string name)
        : m_folder(&folder), m_fd(std::move(fd)), m_name(std::move(name))
    {}
    void close();

    const ExtractFolder* m_folder;
    os::FileDescriptor m_fd;
    std::string m_name;
};

// The folder attachments are written into, created (with the folders above it) when it does
// not exist. Files are created
// only directly in it (relative to its open descriptor), exclusively (O_EXCL: a name already
// taken, by a file, a folder or a symbolic link, is never opened; the next distinct name is
// tried) and without following links (O_NOFOLLOW).
class ExtractFolder {
public:
    // Throws std::system_error when the folder cannot be created or opened.
    explicit ExtractFolder(const std::string& path);
    ExtractFolder(const ExtractFolder&) = delete;
    ExtractFolder& operator=(const ExtractFolder&) = delete;

    const std::string& path() const noexcept { return m_path; }
    // A new file named after `wanted` (made safe; "name (2).ext", "name (3).ext", ... when
    // the name is taken). Throws std::system_error when no file can be created.
    ExtractFile create(std::string_view wanted) const;

private:
    friend class ExtractFile;
    // The first free name of the series for `safe` (with `suffix` after the extension), as
    // linked to the file; used to give a damaged file its mark without overwriting anything.
    std::string linkUnderFreeName(const std::string& from, const std::string& safe,
                                  std::string_view suffix) const;

    os::FileDescriptor m_fd;
    std::string m_path;
};

} // namespace tarvik::nsfdump
