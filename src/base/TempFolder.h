#pragma once

#include <QString>

namespace tarvik {

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

} // namespace tarvik
