// Basic Win32 types for the portable core. On Windows they come from the
// system headers; natively we define the few the core uses.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <cstdint>
typedef int BOOL;
typedef unsigned int UINT;
typedef uint32_t DWORD;
typedef uint8_t BYTE;
typedef void* LPVOID;
typedef const char* LPCSTR;
typedef const char* LPCTSTR;
typedef char* LPSTR;
typedef char* LPTSTR;
typedef void* HANDLE;
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#define THREAD_PRIORITY_NORMAL 0
#define CREATE_SUSPENDED 0x00000004
#endif
