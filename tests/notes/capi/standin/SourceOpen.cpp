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

std::vector<std::uint8_t> compositeFromText(const std::string& utf8)
{
    std::vector<std::uint8_t> out;
    auto record = [&out](const std::vector<std::uint8_t>& rec) {
        out.insert(out.end(), rec.begin(), rec.end());
        if (out.size() % 2)
            out.push_back(0); // records start on even offsets
    };
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = utf8.find('\n', start);
        std::string line =
            utf8ToLmbcs(utf8.substr(start, end == std::string::npos ? end : end - start));
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        record({0x81, 2}); // CDPARAGRAPH: byte signature, length 2
        for (std::size_t at = 0; at == 0 || at < line.size(); at += 60000) {
            const std::string piece = line.substr(at, 60000);
            const std::size_t length = 4 + 4 + piece.size(); // signature, FONTID, text
            std::vector<std::uint8_t> text{0x85, 0xff, static_cast<std::uint8_t>(length & 0xff),
                                           static_cast<std::uint8_t>(length >> 8)};
            const std::uint8_t font[4] = {0x00, 0x0a, 0x00, 0x00}; // FONTID: Roman, 10 point
            text.insert(text.end(), font, font + 4);
            text.insert(text.end(), piece.begin(), piece.end());
            record(text);
            if (line.empty())
                break;
        }
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return out;
}

} // namespace tarvik::standin
