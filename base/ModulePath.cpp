// Kept apart from the other path functions: on Windows it needs the module's
// instance handle, which lives in the Windows half of the build.
#include "base/PathUtils.h"

#ifdef _WIN32
#include "framework/afxapp.h"
#include "framework/afxres.h"
#else
#include <climits>
#include <unistd.h>
#endif

CString GetModulePath()
{
#ifdef _WIN32
    return AfxGetModuleFileName(AfxGetInstanceHandle());
#else
    char szPath[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", szPath, sizeof szPath - 1);
    return n > 0 ? CString(szPath, int(n)) : CString();
#endif
}
