#include "app/UtilityProcedures.h"

#include "app/Ports.h"
#include "base/Platform.h"
#include "base/StringLists.h"

namespace tarvik {

QString GetTempFolder(TempFolder& temp)
{
    return temp.path();
}

QString BrowseForFolder(DialogPort& dialogs, const QString& title)
{
    return dialogs.browseForFolder(title);
}

void SortStrings(QStringList& list, qsizetype first, qsizetype last, int)
{
    sortStrings(list, first, last);
}

void RemoveDuplicates(QStringList& list)
{
    removeDuplicates(list);
}

void SortAndRemoveDuplicates(QStringList& list)
{
    SortStrings(list, 0, list.size() - 1, 0);
    RemoveDuplicates(list);
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
    return random.between(low, high);
}

} // namespace tarvik
