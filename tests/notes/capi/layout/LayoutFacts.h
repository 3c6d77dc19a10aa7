#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One number a reading of the C API reference fixes: a structure's size, a field's offset,
// a type's width or a constant's value, named "STRUCT", "STRUCT.Field" or "CONSTANT".
struct LayoutFact {
    std::string name;
    std::uint64_t value;
};

// The back-end's reading (src/notes/capi/NotesCApi.h) and the stand-in's
// (tests/notes/capi/standin/NotesCApi.h), each compiled on its own: the two headers declare
// the same names and cannot share a translation unit.
std::vector<LayoutFact> backendLayout();
std::vector<LayoutFact> standinLayout();
