#pragma once

namespace tarvik::os {

// An open file descriptor, closed when the object goes. Move-only.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor();
    FileDescriptor(FileDescriptor&& other) noexcept : m_fd(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    explicit operator bool() const { return isOpen(); }
    int get() const { return m_fd; }
    // Hands the descriptor to a new owner (a stream that closes it); this object
    // is then closed.
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    // A second descriptor of the same open file, not inherited by programs this
    // one starts; not open on failure.
    FileDescriptor duplicate() const;
    // Closes the descriptor now; the system's error number when closing reported
    // one (a write it held back failed), else 0.
    int close();

private:
    int m_fd = -1;
};

} // namespace tarvik::os
