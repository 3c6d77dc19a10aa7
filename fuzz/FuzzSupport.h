#pragma once

// What the fuzz targets share: splitting an input into fields, a scratch
// folder, and a check that stops the process with a message when a property
// does not hold (libFuzzer and the replay driver both report it as a crash).

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarvik::fuzz {

// An input cut into fields at every 0xFF byte (a byte that never occurs in
// UTF-8, so a field can hold any text, control characters and NUL included).
// The first byte is a set of flags for the target, not a field.
class Fields {
public:
    Fields(const std::uint8_t* data, std::size_t size);

    std::uint8_t flags() const { return m_flags; }
    std::size_t count() const { return m_fields.size(); }
    QByteArray bytes(std::size_t i) const;
    // Field i as text: UTF-8 (bad sequences become U+FFFD), or, with utf16,
    // its bytes taken as UTF-16 code units, so lone surrogates occur too.
    QString text(std::size_t i, bool utf16 = false) const;

private:
    std::uint8_t m_flags = 0;
    std::vector<QByteArray> m_fields;
};

// A folder of this process's own for the files a target writes, emptied by
// reset(). On a memory file system when there is one, so syncing costs little.
class Scratch {
public:
    static Scratch& instance();
    const QString& path() const { return m_path; }
    // Removes everything in the folder.
    void reset() const;
    ~Scratch();

private:
    Scratch();
    QString m_path;
};

// Limits every file this process writes to a size, with writes beyond it
// failing instead of killing the process: a damaged store that claims a huge
// attachment then costs a failed write, not a full disk.
void limitFileSize(std::int64_t bytes);

[[noreturn]] void fail(const char* file, int line, const char* what, const QString& detail);

} // namespace tarvik::fuzz

// Stops the process when cond is false; detail says what was seen.
#define FUZZ_CHECK(cond, detail)                                                                   \
    do {                                                                                           \
        if (!(cond))                                                                               \
            ::tarvik::fuzz::fail(__FILE__, __LINE__, #cond, (detail));                             \
    } while (false)
