#include "location.h"

#include "wtf8.h"

namespace {

// A path the plain calls take whatever its length: "\\?\" before a drive
// path, "\\?\UNC\" in place of a share's two backslashes.
std::wstring long_form(const std::wstring& path)
{
    if (path.compare(0, 4, L"\\\\?\\") == 0 || path.compare(0, 4, L"\\\\.\\") == 0)
        return path;
    if (path.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC\\" + path.substr(2);
    return L"\\\\?\\" + path;
}

// The reverse, for a path that people and children read.
std::wstring ordinary_form(const std::wstring& path)
{
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        return L"\\\\" + path.substr(8);
    if (path.compare(0, 4, L"\\\\?\\") == 0)
        return path.substr(4);
    return path;
}

// Everything before the last backslash; a drive's root keeps its own, as
// the final path of a root directory does.
std::wstring directory_of(const std::wstring& path)
{
    const std::size_t slash = path.rfind(L'\\');
    if (slash == std::wstring::npos)
        return std::wstring();
    return path.substr(0, slash > 0 && path[slash - 1] == L':' ? slash + 1 : slash);
}

std::wstring final_path_of(HANDLE handle)
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetFinalPathNameByHandleW(handle, &path[0], static_cast<DWORD>(path.size()),
                                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0)
            return std::wstring();
        // Too small: the length given counts the terminator.
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(length);
    }
}

// Where the file or directory at path finally lies, every link on the way
// followed; empty when it cannot be opened.
std::wstring final_path(const std::wstring& path, DWORD flags)
{
    HANDLE handle = CreateFileW(long_form(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return std::wstring();
    std::wstring result = final_path_of(handle);
    CloseHandle(handle);
    return result;
}

bool same_path(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

} // namespace

std::string module_file_path(HMODULE module)
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(module, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0)
            return std::string();
        // A path that fills the buffer may have been cut: ask again with more.
        if (length < path.size())
            return wtf8_from_utf16(path.data(), length);
        path.resize(path.size() * 2);
    }
}

std::string linked_file_target(const std::string& path)
{
    const std::wstring spelled = utf16_from_wtf8(path);
    const std::wstring file = final_path(spelled, 0);
    // The directory is opened as the path names it: a link on it or above
    // it is followed on both sides alike and so tells nothing apart.
    const std::wstring directory = final_path(directory_of(spelled), FILE_FLAG_BACKUP_SEMANTICS);
    if (file.empty() || directory.empty() || same_path(directory_of(file), directory))
        return std::string();
    const std::wstring target = ordinary_form(file);
    return wtf8_from_utf16(target.data(), target.size());
}
