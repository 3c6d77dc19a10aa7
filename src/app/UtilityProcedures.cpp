#include "app/UtilityProcedures.h"

#include "app/Ports.h"
#include "base/OperationError.h"
#include "base/Platform.h"

#include <cmath>
#include <limits>
#include <utility>

namespace tarvik {

TempFolder::~TempFolder()
{
    platform::removeFolderTree(m_path);
}

QString TempFolder::pathIfMade() const
{
    return m_path.isEmpty() ? QString() : m_path + platform::separator();
}

QString TempFolder::path()
{
    if (m_path.isEmpty()) {
        m_path = platform::makePrivateTempFolder();
        if (m_path.isEmpty())
            throw OperationError(QStringLiteral("Cannot create a private temporary folder in %1.")
                                     .arg(platform::systemTempFolder()));
    }
    return m_path + platform::separator();
}

float RandomGenerator::next()
{
    // A 24-bit linear congruential generator; its fixed start gives the same
    // sequence in every run.
    m_state = (m_state * 1140671485u + 12820163u) & 0xFFFFFFu;
    return static_cast<float>(m_state) / 16777216.0f;
}

QString GetTempFolder(TempFolder& temp)
{
    return temp.path();
}

QString BrowseForFolder(DialogPort& dialogs, const QString& title)
{
    return dialogs.browseForFolder(title);
}

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

void SortStrings(QStringList& list, qsizetype first, qsizetype last, int /*unused*/)
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
                SortStrings(list, first, j);
            first = i;
        } else {
            if (i < last)
                SortStrings(list, i, last);
            last = j;
        }
    }
}

void RemoveDuplicates(QStringList& list)
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

bool CreateFolderPath(const QString& path)
{
    QString p = path;
    if (!p.endsWith(platform::separator()))
        p += platform::separator();
    return platform::createFolderPath(p);
}

std::int32_t RandomNumber(RandomGenerator& random, std::int32_t low, std::int32_t high)
{
    const double r = random.next();
    const double value = std::floor(r * (double(high) - double(low) + 1.0)) + double(low);
    if (value < double(std::numeric_limits<std::int32_t>::min()) ||
        value > double(std::numeric_limits<std::int32_t>::max()))
        throw OperationError(QStringLiteral("Overflow"));
    return static_cast<std::int32_t>(value);
}

} // namespace tarvik
