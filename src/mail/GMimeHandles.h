#pragma once

// Owning handles for GMime and GLib objects used by the mail writer. Only the
// writer's own files (and tests that link GMime) include this header: the
// core library links GMime privately.

#include <gmime/gmime.h>

#include <memory>

namespace tarvik::mail::gmime {

struct ObjectUnref {
    void operator()(gpointer object) const noexcept
    {
        if (object)
            g_object_unref(object);
    }
};

// One counted reference to a GObject, released when the handle goes.
template <class T>
using Ref = std::unique_ptr<T, ObjectUnref>;

// Adopts a reference the caller already owns (what *_new functions return).
template <class T>
Ref<T> take(T* object) noexcept
{
    return Ref<T>(object);
}

// Adds a reference to an object owned elsewhere (what *_get functions return).
template <class T>
Ref<T> borrow(T* object) noexcept
{
    if (object)
        g_object_ref(object);
    return Ref<T>(object);
}

struct GFree {
    void operator()(gpointer p) const noexcept { g_free(p); }
};
using CString = std::unique_ptr<char, GFree>;

struct FormatOptionsFree {
    void operator()(GMimeFormatOptions* o) const noexcept { g_mime_format_options_free(o); }
};
using FormatOptions = std::unique_ptr<GMimeFormatOptions, FormatOptionsFree>;

struct ParserOptionsFree {
    void operator()(GMimeParserOptions* o) const noexcept { g_mime_parser_options_free(o); }
};
using ParserOptions = std::unique_ptr<GMimeParserOptions, ParserOptionsFree>;

// Initialises GMime the first time it is called in this process; later calls
// do nothing. Every entry point of the writer calls it before using GMime.
void ensureInitialised();

} // namespace tarvik::mail::gmime
