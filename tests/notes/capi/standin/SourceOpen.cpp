// Chooses the source by the file's first bytes, and the text conversion sources share.

#include "NotesCApi.h"
#include "Source.h"

#include <unicode/ucnv.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace tarvik::standin {

std::unique_ptr<Source> openSource(const std::string& path)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        throw SourceError(ERR_NOEXIST, "cannot open " + path);
    char head[16] = {};
    const std::size_t n = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    if (n == sizeof head && std::memcmp(head, "SQLite format 3", 16) == 0)
        return openStoreSource(path);
    return openNsfSource(path);
}

std::string utf8ToLmbcs(const std::string& utf8)
{
    UErrorCode status = U_ZERO_ERROR;
    std::string out(utf8.size() * 3 + 4, '\0');
    const int32_t written =
        ucnv_convert("LMBCS-1", "UTF-8", out.data(), static_cast<int32_t>(out.size()), utf8.data(),
                     static_cast<int32_t>(utf8.size()), &status);
    if (U_FAILURE(status))
        return utf8; // ASCII passes unchanged either way
    out.resize(static_cast<std::size_t>(written));
    return out;
}

} // namespace tarvik::standin
