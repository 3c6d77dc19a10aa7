#include "base/os/Files.h"

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvik::os {

namespace {

[[noreturn]] void fail(int error, const std::string& what)
{
    throw std::system_error(error, std::generic_category(), what);
}

} // namespace

FileDescriptor::~FileDescriptor()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept
{
    if (this != &other) {
        FileDescriptor old(release());
        m_fd = other.release();
    }
    return *this;
}

FileDescriptor FileDescriptor::duplicate() const
{
    return FileDescriptor(m_fd >= 0 ? ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0) : -1);
}

int FileDescriptor::close()
{
    const int fd = release();
    if (fd < 0)
        return 0;
    // After EINTR the descriptor is closed all the same on this system.
    return ::close(fd) == 0 || errno == EINTR ? 0 : errno;
}

ReadOnlyFile openReadOnly(const std::string& path)
{
    // O_NONBLOCK keeps a pipe at path from blocking the open; it is then refused.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd)
        fail(errno, "cannot open " + path);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        fail(errno, "cannot examine " + path);
    if (!S_ISREG(st.st_mode))
        fail(S_ISDIR(st.st_mode) ? EISDIR : EINVAL, path + " is not a regular file");
    ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
    return {std::move(fd), static_cast<std::uint64_t>(st.st_size)};
}

std::size_t readAt(const FileDescriptor& fd, std::uint64_t offset, std::span<std::uint8_t> out)
{
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::pread(fd.get(), out.data() + done, out.size() - done,
                                  static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail(errno, "cannot read");
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

void writeAll(const FileDescriptor& fd, std::span<const std::uint8_t> bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fail(n == 0 ? ENOSPC : errno, "cannot write");
        done += static_cast<std::size_t>(n);
    }
}

FileDescriptor openFolder(const std::string& path)
{
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (error)
        throw std::system_error(error, "cannot create the folder " + path);
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd)
        fail(errno, "cannot open the folder " + path);
    return fd;
}

FileDescriptor createExclusive(const FileDescriptor& folder, const std::string& name)
{
    FileDescriptor fd(::openat(folder.get(), name.c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!fd && errno != EEXIST)
        fail(errno, "cannot create " + name);
    return fd;
}

bool linkExclusive(const FileDescriptor& folder, const std::string& from, const std::string& to)
{
    if (::linkat(folder.get(), from.c_str(), folder.get(), to.c_str(), 0) == 0)
        return true;
    if (errno == EEXIST)
        return false;
    fail(errno, "cannot name " + from + " " + to);
}

void removeQuietly(const FileDescriptor& folder, const std::string& name) noexcept
{
    ::unlinkat(folder.get(), name.c_str(), 0);
}

} // namespace tarvik::os
