#include "base/LoadedLibrary.h"

#include <QFile>

#include <dlfcn.h>

// LoadedLibrary on POSIX systems: dlopen with every symbol bound at once, kept local to
// the library so that its names never stand in for ours.
namespace tarvik {

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
