#pragma once

#include <QStringList>

namespace tarvik {

// Sorts list[first..last] ascending by code unit (case-sensitive: upper-case
// before lower-case, a text before any longer text it begins), in place. Throws
// OperationError when the range reaches outside the list.
void sortStrings(QStringList& list, qsizetype first, qsizetype last);

// Drops adjacent repeats and empty entries from a sorted list, in place. Throws
// OperationError when no non-empty entry is left, since an empty list cannot be
// handed back.
void removeDuplicates(QStringList& list);

} // namespace tarvik
