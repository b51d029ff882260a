#include "cli/Console.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>

#include "base/PathUtils.h"
#include "framework/afxconv.h"

#ifdef _WIN32
#include <io.h>
#include <shellapi.h>
#include "framework/afxdefs.h"
#else
#include <unistd.h>
#endif

#ifdef _WIN32

namespace {

bool HasWildcard(const std::string& s)
{
    const size_t nName = s.find_last_of("\\/") == std::string::npos ? 0 : s.find_last_of("\\/") + 1;
    return s.find_first_of("*?", nName) != std::string::npos;
}

// Matches of one pattern, files only, with the pattern's folder in front.
std::vector<std::string> Matches(const std::string& strPattern)
{
    const size_t nSep = strPattern.find_last_of("\\/");
    const std::string strFolder = nSep == std::string::npos ? std::string() : strPattern.substr(0, nSep + 1);
    std::vector<std::string> found;
    WIN32_FIND_DATAW fd;
    HANDLE h = ::FindFirstFileExW(Win32Path(strPattern.c_str()).c_str(), FindExInfoBasic, &fd,
                                  FindExSearchNameMatch, nullptr, 0);
    if (h == INVALID_HANDLE_VALUE)
        return found;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            found.push_back(strFolder + WideToUtf8(fd.cFileName).str());
    } while (::FindNextFileW(h, &fd));
    ::FindClose(h);
    std::sort(found.begin(), found.end());
    return found;
}

}  // namespace

std::vector<std::string> GetArguments(int argc, char** argv)
{
    int nArgs = 0;
    LPWSTR* ppArgs = ::CommandLineToArgvW(::GetCommandLineW(), &nArgs);
    if (!ppArgs)
        return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> args;
    for (int i = 0; i < nArgs; ++i)
        args.push_back(WideToUtf8(ppArgs[i]).str());
    ::LocalFree(ppArgs);
    return args;
}

std::string FromDriveRelative(const std::string& strPath)
{
    const bool bDrive = strPath.size() >= 2 && std::isalpha(static_cast<unsigned char>(strPath[0])) &&
                        strPath[1] == ':';
    if (!bDrive || (strPath.size() > 2 && (strPath[2] == '\\' || strPath[2] == '/')))
        return strPath;
    const std::wstring w = Utf8ToWide(strPath.c_str());
    std::wstring full(MAX_PATH, L'\0');
    DWORD n = ::GetFullPathNameW(w.c_str(), DWORD(full.size()), &full[0], nullptr);
    if (n > full.size()) {
        full.resize(n);
        n = ::GetFullPathNameW(w.c_str(), DWORD(full.size()), &full[0], nullptr);
    }
    return n == 0 || n > full.size() ? strPath : WideToUtf8(full.c_str(), int(n)).str();
}

std::vector<std::string> ExpandWildcards(const std::vector<std::string>& files)
{
    std::vector<std::string> out;
    for (const std::string& s : files) {
        std::vector<std::string> found = HasWildcard(s) ? Matches(s) : std::vector<std::string>();
        if (found.empty())
            out.push_back(s);
        else
            out.insert(out.end(), found.begin(), found.end());
    }
    return out;
}

bool IsTerminal(FILE* pStream)
{
    DWORD dwMode = 0;
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(pStream)));
    return h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &dwMode);
}

void PrintText(FILE* pStream, const char* pszFormat, ...)
{
    CString strText;
    va_list args;
    va_start(args, pszFormat);
    strText.FormatV(pszFormat, args);
    va_end(args);
    // A console shows UTF-16 whatever its code page; a file or pipe gets UTF-8.
    if (IsTerminal(pStream)) {
        HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(pStream)));
        std::fflush(pStream);
        const std::wstring w = Utf8ToWide(strText);
        DWORD dwWritten = 0;
        ::WriteConsoleW(h, w.data(), DWORD(w.size()), &dwWritten, nullptr);
        return;
    }
    std::fwrite(strText.GetString(), 1, size_t(strText.GetLength()), pStream);
}

#else

std::vector<std::string> GetArguments(int argc, char** argv)
{
    return std::vector<std::string>(argv, argv + argc);
}

std::string FromDriveRelative(const std::string& strPath) { return strPath; }

std::vector<std::string> ExpandWildcards(const std::vector<std::string>& files)
{
    return files;
}

bool IsTerminal(FILE* pStream) { return isatty(fileno(pStream)) != 0; }

void PrintText(FILE* pStream, const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    std::vfprintf(pStream, pszFormat, args);
    va_end(args);
}

#endif

std::string ShownName(const std::string& strName)
{
    std::string strShown;
    for (size_t i = 0; i < strName.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(strName[i]);
        const size_t nHidden = HiddenCharBytes(strName.data() + i, strName.size() - i);
        char sz[8];
        if (nHidden == 0 && c >= 0x20 && c != 0x7F) {
            strShown += char(c);
            continue;
        }
        if (nHidden == 3) {  // a direction control, by its code point
            const unsigned nCode = (c & 0x0Fu) << 12 | (static_cast<unsigned char>(strName[i + 1]) & 0x3Fu) << 6 |
                                   (static_cast<unsigned char>(strName[i + 2]) & 0x3Fu);
            std::snprintf(sz, sizeof sz, "\\u%04X", nCode);
        } else {  // a C0 or C1 control, by its code
            std::snprintf(sz, sizeof sz, "\\x%02X", nHidden ? static_cast<unsigned char>(strName[i + 1]) : c);
        }
        i += nHidden ? nHidden - 1 : 0;
        strShown += sz;
    }
    return strShown;
}
