#include "mail/GMimeHandles.h"

#include <mutex>

namespace tarvik::mail::gmime {

void ensureInitialised()
{
    // GMime keeps its tables for the life of the process; it is never shut
    // down, so objects released late (static destruction) stay safe.
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

} // namespace tarvik::mail::gmime
