// Holds a file open the way an editor or a database may, sharing nothing,
// and runs a command line meanwhile: how kestrin.exe meets a file in use.
// Usage: hold_file FILE PROGRAM ARGUMENTS...; exits with the program's status.
#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3)
        return 64;
    std::wstring strLine;  // each argument quoted: none of ours holds a quote
    for (int i = 2; i < argc; ++i)
        strLine += std::wstring(i > 2 ? L" \"" : L"\"") + argv[i] + L"\"";
    HANDLE hFile = CreateFileW(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return 65;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    DWORD dwExit = 66;
    if (CreateProcessW(nullptr, &strLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        WaitForSingleObject(pi.hProcess, INFINITE);
        GetExitCodeProcess(pi.hProcess, &dwExit);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    CloseHandle(hFile);
    return int(dwExit);
}
