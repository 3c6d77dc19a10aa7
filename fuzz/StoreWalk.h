#pragma once

#include <QString>

namespace tarvik::fuzz {

// Opens the store at path through the local-store back-end and reads all of
// it as the scan and the export do: every view by the list and by name, every
// document of each view, every item callers read, every embedded object
// extracted into folder (and removed again). Failures the back-end reports
// (OperationError) are expected on damaged stores and passed over; anything
// else escapes. Returns the number of documents read, or -1 when the store
// cannot be opened.
long walkStore(const QString& path, const QString& folder);

} // namespace tarvik::fuzz
