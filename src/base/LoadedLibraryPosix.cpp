#include "base/LoadedLibrary.h"

#include <QFile>

#include <dlfcn.h>

// LoadedLibrary on POSIX systems: dlopen with every symbol bound at once, kept local to
// the library so that its names never stand in for ours.
namespace tarvik {

namespace {

#if defined(__APPLE__)
constexpr char libraryPathVariable[] = "DYLD_LIBRARY_PATH";
#else
constexpr char libraryPathVariable[] = "LD_LIBRARY_PATH";
#endif

} // namespace

LoadedLibrary::~LoadedLibrary()
{
    unload();
}

LoadedLibrary& LoadedLibrary::operator=(LoadedLibrary&& other) noexcept
{
    if (this != &other) {
        unload();
        m_handle = other.m_handle;
        m_path = other.m_path;
        other.m_handle = nullptr;
    }
    return *this;
}

LoadedLibrary LoadedLibrary::load(const QString& path, QString* errorText)
{
    LoadedLibrary library;
    dlerror(); // clears an earlier failure's text
    void* handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        if (errorText) {
            const char* why = dlerror();
            *errorText = why ? QString::fromLocal8Bit(why) : QStringLiteral("unknown reason");
            // A library it needs was not found: those are looked for in the library path,
            // not beside the library.
            if (QFile::exists(path) && !errorText->startsWith(path))
                *errorText += QStringLiteral(" (the libraries it needs are looked for in %1: "
                                             "add its folder there)")
                                  .arg(QLatin1String(libraryPathVariable));
        }
        return library;
    }
    library.m_handle = handle;
    library.m_path = path;
    return library;
}

void* LoadedLibrary::symbol(const char* name) const
{
    if (!m_handle)
        return nullptr;
    return dlsym(m_handle, name);
}

void LoadedLibrary::unload() noexcept
{
    if (m_handle)
        dlclose(m_handle);
    m_handle = nullptr;
}

QString sharedLibraryFileName(const QString& name)
{
#if defined(__APPLE__)
    return QStringLiteral("lib") + name + QStringLiteral(".dylib");
#else
    return QStringLiteral("lib") + name + QStringLiteral(".so");
#endif
}

} // namespace tarvik
