#include "nsf/Note.h"

namespace tarvik::nsf {

namespace {

bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](unsigned char c) {
            return c >= 'A' && c <= 'Z' ? c + 32 : c;
        };
        if (lower(static_cast<unsigned char>(a[i])) != lower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

} // namespace

bool isKnownItemType(std::uint16_t type) noexcept
{
    if (type <= 0x001F)
        return true; // the types without a class: rich text, objects, signatures, MIME parts...
    switch (type) {
    case kTypeError:
    case kTypeUnavailable:
    case kTypeNumber:
    case kTypeNumberRange:
    case kTypeTime:
    case kTypeTimeRange:
    case kTypeText:
    case kTypeTextList:
    case kTypeRfc822Text:
    case kTypeFormula:
    case kTypeUserId:
        return true;
    default:
        return false;
    }
}

const Item* Note::find(std::string_view name) const
{
    for (const Item& item : items)
        if (sameName(item.name, name))
            return &item;
    return nullptr;
}

std::vector<const Item*> Note::findAll(std::string_view name) const
{
    std::vector<const Item*> out;
    for (const Item& item : items)
        if (sameName(item.name, name))
            out.push_back(&item);
    return out;
}

std::size_t Note::failedItems() const
{
    std::size_t n = 0;
    for (const Item& item : items)
        n += item.ok() ? 0 : 1;
    return n;
}

} // namespace tarvik::nsf
