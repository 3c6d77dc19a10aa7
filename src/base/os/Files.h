#pragma once

#include "base/os/FileDescriptor.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

// File services without Qt, for the libraries and tools that must not link it (the
// reader of Notes database files and its dump). Failures throw std::system_error
// carrying the system's error number and a message naming the file.
namespace tarvik::os {

// A regular file opened for reading, and its size. Anything else at path (a folder,
// a device, a pipe) is refused without blocking.
struct ReadOnlyFile {
    FileDescriptor fd;
    std::uint64_t size = 0;
};
ReadOnlyFile openReadOnly(const std::string& path);

// Reads out.size() bytes at offset; fewer only where the file ends first. Returns the
// number read.
std::size_t readAt(const FileDescriptor& fd, std::uint64_t offset, std::span<std::uint8_t> out);

// Writes all of bytes (short writes are continued; a device that takes nothing is full).
void writeAll(const FileDescriptor& fd, std::span<const std::uint8_t> bytes);

// A folder, created with every missing folder above it, opened so that files are made
// relative to it and to nothing else.
FileDescriptor openFolder(const std::string& path);

// Creates name directly in folder for writing: never follows a link and never opens
// anything that exists. An empty descriptor when the name is taken (by a file, a folder
// or a link); throws for any other failure.
FileDescriptor createExclusive(const FileDescriptor& folder, const std::string& name);

// Gives the file `from` of folder the second name `to` in the same folder; false when
// `to` is taken (nothing is replaced), throws for any other failure.
bool linkExclusive(const FileDescriptor& folder, const std::string& from, const std::string& to);

// Removes name from folder; failures are ignored (used to clean up).
void removeQuietly(const FileDescriptor& folder, const std::string& name) noexcept;

} // namespace tarvik::os
