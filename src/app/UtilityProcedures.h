#pragma once

#include "base/RandomGenerator.h"
#include "base/TempFolder.h"

#include <QString>
#include <QStringList>

#include <cstdint>

// The procedures the others share under the names they call them by: temporary
// folder, folder picker, sorting and de-duplicating lists, folder creation and
// random numbers. Each is a thin step over base or a port; none shows anything.
namespace tarvik {

class DialogPort;

// The temporary-files folder, ending in the path separator.
QString GetTempFolder(TempFolder& temp);

// Asks the user for a folder; "" when cancelled.
QString BrowseForFolder(DialogPort& dialogs, const QString& title);

// Sorts list[first..last] ascending by code unit (sortStrings). The fourth
// argument has no effect; callers pass 0.
void SortStrings(QStringList& list, qsizetype first, qsizetype last, int = 0);

// Drops adjacent repeats and empty entries from a sorted list (removeDuplicates).
void RemoveDuplicates(QStringList& list);

// SortStrings over the whole list, then RemoveDuplicates: the distinct non-empty
// entries in code-unit order. Throws OperationError when none is left.
void SortAndRemoveDuplicates(QStringList& list);

// Creates every missing folder of path; True when the whole path exists after.
bool CreateFolderPath(const QString& path);

// A number in low..high drawn from the run's generator (RandomGenerator::between).
std::int32_t RandomNumber(RandomGenerator& random, std::int32_t low, std::int32_t high);

} // namespace tarvik
