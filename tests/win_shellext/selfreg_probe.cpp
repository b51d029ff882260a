// Calls DllRegisterServer or DllUnregisterServer of a module and prints the
// HRESULT, which regsvr32 only reports as "failed".
#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc != 3 || (std::strcmp(argv[2], "register") != 0 && std::strcmp(argv[2], "unregister") != 0)) {
        std::fprintf(stderr, "usage: selfreg_probe MODULE register|unregister\n");
        return 2;
    }
    HMODULE hModule = LoadLibraryA(argv[1]);
    if (!hModule) {
        std::fprintf(stderr, "cannot load %s\n", argv[1]);
        return 3;
    }
    typedef HRESULT(STDAPICALLTYPE * PFN)();
    const char* pszExport = argv[2][0] == 'r' ? "DllRegisterServer" : "DllUnregisterServer";
    PFN pfn = reinterpret_cast<PFN>(reinterpret_cast<void*>(GetProcAddress(hModule, pszExport)));
    if (!pfn) {
        std::fprintf(stderr, "no %s\n", pszExport);
        return 4;
    }
    std::printf("0x%08lX\n", static_cast<unsigned long>(pfn()));
    FreeLibrary(hModule);
    return 0;
}
