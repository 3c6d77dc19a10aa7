#pragma once

#include <QString>

namespace tarvik {

// Removes leading and trailing blanks (U+0020 only; tabs and line breaks stay),
// as the procedures trim item values and names.
QString trimBlanks(const QString& text);

} // namespace tarvik
