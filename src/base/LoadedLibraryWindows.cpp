#include "base/LoadedLibrary.h"

#include <QDir>

#include <windows.h>

// LoadedLibrary on Windows: the library's own folder is searched for the libraries it
// needs (LOAD_WITH_ALTERED_SEARCH_PATH), as an installed program's DLL expects. Not yet
// built or run on Windows.
namespace tarvik {

namespace {

QString lastErrorText()
{
    const DWORD code = GetLastError();
    if (code == ERROR_BAD_EXE_FORMAT)
        return QStringLiteral("it is not built for this kind of program (a 32-bit library in "
                              "a 64-bit program, or the other way round)");
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString result =
        n ? QString::fromWCharArray(text, int(n)).trimmed() : QStringLiteral("error %1").arg(code);
    LocalFree(text);
    return result;
}

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
    const QString native = QDir::toNativeSeparators(path);
    HMODULE module = LoadLibraryExW(reinterpret_cast<const wchar_t*>(native.utf16()), nullptr,
                                    LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) {
        if (errorText)
            *errorText = lastErrorText();
        return library;
    }
    library.m_handle = module;
    library.m_path = path;
    return library;
}

void* LoadedLibrary::symbol(const char* name) const
{
    if (!m_handle)
        return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(m_handle), name));
}

void LoadedLibrary::unload() noexcept
{
    if (m_handle)
        FreeLibrary(static_cast<HMODULE>(m_handle));
    m_handle = nullptr;
}

QString sharedLibraryFileName(const QString& name)
{
    return name + QStringLiteral(".dll");
}

} // namespace tarvik
