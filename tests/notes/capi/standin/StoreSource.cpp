// A local store as the stand-in's source.

#include "NotesCApi.h"
#include "Source.h"

namespace tarvik::standin {

std::unique_ptr<Source> openStoreSource(const std::string& path)
{
    throw SourceError(ERR_NOT_NSF, "local stores are not served by the stand-in yet: " + path);
}

} // namespace tarvik::standin
