#include "base/StringLists.h"

#include "base/OperationError.h"

#include <utility>

namespace tarvik {

namespace {

// The pivot index is the midpoint rounded to the nearest integer, halves to the
// even neighbour.
qsizetype pivotIndex(qsizetype first, qsizetype last)
{
    const qsizetype sum = first + last;
    if (sum % 2 == 0)
        return sum / 2;
    const qsizetype lower = (sum - 1) / 2;
    return lower % 2 == 0 ? lower : lower + 1;
}

bool lessByCodeUnit(const QString& a, const QString& b)
{
    return QString::compare(a, b, Qt::CaseSensitive) < 0;
}

} // namespace

void sortStrings(QStringList& list, qsizetype first, qsizetype last)
{
    if (first < 0 || last >= list.size())
        throw OperationError(QStringLiteral("Subscript out of range"));
    // Quicksort by Hoare partitioning. The smaller side is sorted by recursion
    // and the larger one by the loop, which keeps the depth logarithmic; the
    // partitions are disjoint, so the order of the two makes no difference.
    while (first < last) {
        qsizetype i = first;
        qsizetype j = last;
        const QString pivot = list.at(pivotIndex(first, last));
        do {
            while (lessByCodeUnit(list.at(i), pivot) && i < last)
                ++i;
            while (lessByCodeUnit(pivot, list.at(j)) && j > first)
                --j;
            if (i <= j) {
                list.swapItemsAt(i, j);
                ++i;
                --j;
            }
        } while (i <= j);

        if (j - first < last - i) {
            if (first < j)
                sortStrings(list, first, j);
            first = i;
        } else {
            if (i < last)
                sortStrings(list, i, last);
            last = j;
        }
    }
}

void removeDuplicates(QStringList& list)
{
    const qsizetype n = list.size() - 1;
    qsizetype k = 1;
    qsizetype j = 0;
    while (j + k <= n) {
        if (list.at(j).isEmpty()) {
            ++j;
        } else if (list.at(j + k) == list.at(j)) {
            list[j + k].clear();
            ++k;
        } else {
            k = 1;
            ++j;
        }
    }
    QStringList kept;
    kept.reserve(list.size());
    for (QString& s : list) {
        if (!s.isEmpty())
            kept.append(std::move(s));
    }
    if (kept.isEmpty())
        throw OperationError(QStringLiteral("Subscript out of range"));
    list = std::move(kept);
}

} // namespace tarvik
