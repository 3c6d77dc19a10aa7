#pragma once

#include "mail/GMimeHandles.h"

#include <QString>

namespace tarvik::mail {

// Writes message to path with CR LF line ends, all or nothing: the bytes go
// to a new temporary file in the target folder, are synced to disk and only
// then moved to path, refusing to replace anything there. Throws
// OperationError when the folder is missing, path already exists or any
// write, sync, close or move fails; the temporary file is removed then.
void writeMessageFile(GMimeObject* message, const QString& path);

} // namespace tarvik::mail
