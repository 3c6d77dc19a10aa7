#pragma once

#include <QString>

namespace tarvik {

// A shared library loaded at run time (dlopen here, LoadLibrary on Windows), unloaded
// when the object goes unless keepLoaded() was called. Move-only.
class LoadedLibrary {
public:
    LoadedLibrary() = default;
    ~LoadedLibrary();
    LoadedLibrary(LoadedLibrary&& other) noexcept : m_handle(other.m_handle), m_path(other.m_path)
    {
        other.m_handle = nullptr;
    }
    LoadedLibrary& operator=(LoadedLibrary&& other) noexcept;
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;

    // Loads the library at path (a full path: no search), resolving every symbol now so
    // that a library with missing dependencies fails here and not at the first call. Not
    // loaded on failure; errorText gets the system's reason.
    static LoadedLibrary load(const QString& path, QString* errorText = nullptr);

    bool isLoaded() const { return m_handle != nullptr; }
    explicit operator bool() const { return isLoaded(); }
    const QString& path() const { return m_path; }

    // The address of an exported function or variable, or nullptr when the library does
    // not export it.
    void* symbol(const char* name) const;

    // The library stays in the process after this object goes: for libraries that
    // register exit handlers or thread data of their own, which must not outlive their code.
    void keepLoaded() { m_handle = nullptr; }

private:
    void unload() noexcept;

    void* m_handle = nullptr;
    QString m_path;
};

// The file name a shared library has on this system: "libNAME.so", "libNAME.dylib" or
// "NAME.dll".
QString sharedLibraryFileName(const QString& name);

} // namespace tarvik
