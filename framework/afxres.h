// The module whose resources (dialogs, icons, bitmaps, version) the Windows
// half loads. The DLL sets it at attach; a test program may point it at a
// loaded Kestrin.dll.
#pragma once

#ifdef _WIN32
#include "framework/afxdefs.h"

HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();
void AfxSetInstanceHandle(HINSTANCE hInstance);
void AfxSetResourceHandle(HINSTANCE hInstance);
#endif
