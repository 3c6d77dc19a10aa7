#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

namespace tarvik {

class DialogPort;

// The run's private temporary folder: made on first use inside the system's
// temporary folder with an unpredictable name and owner-only permissions, so no
// other user can plant a link under the fixed file names written there; removed
// with everything in it when the object goes (when Tarvik ends).
class TempFolder {
public:
    TempFolder() = default;
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The folder's path, ending in the path separator. Throws OperationError
    // when the folder cannot be made.
    QString path();
    bool exists() const { return !m_path.isEmpty(); }
    // The folder's path with its separator, or "" before it is made.
    QString pathIfMade() const;

private:
    QString m_path;
};

// The process's pseudo-random generator. Never seeded from the clock: every run
// draws the same sequence, so exporting the same mails again gives the same
// file names.
class RandomGenerator {
public:
    // Next value r with 0 <= r < 1.
    float next();

private:
    std::uint32_t m_state = 0x50000;
};

// The temporary-files folder, ending in the path separator.
QString GetTempFolder(TempFolder& temp);

// Asks the user for a folder; "" when cancelled.
QString BrowseForFolder(DialogPort& dialogs, const QString& title);

// Sorts list[first..last] ascending by code unit (case-sensitive), in place.
// The last argument has no effect (callers pass 0).
void SortStrings(QStringList& list, qsizetype first, qsizetype last, int unused = 0);

// Drops adjacent repeats and empty entries from a sorted list, in place.
// Throws OperationError when no non-empty entry is left, since an empty list
// cannot be handed back.
void RemoveDuplicates(QStringList& list);

// Creates every missing folder of path; True when the whole path exists after.
bool CreateFolderPath(const QString& path);

// A number in low..high drawn from the run's generator. Throws OperationError
// when the result does not fit 32 bits.
std::int32_t RandomNumber(RandomGenerator& random, std::int32_t low, std::int32_t high);

} // namespace tarvik
