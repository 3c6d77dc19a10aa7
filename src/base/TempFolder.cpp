#include "base/TempFolder.h"

#include "base/OperationError.h"
#include "base/Platform.h"

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

} // namespace tarvik
