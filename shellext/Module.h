// What the module's parts share: the count of live COM objects (and server
// locks) that decides whether the module may be unloaded, and the platform test.
#pragma once

#ifdef _WIN32
#include "framework/afxdefs.h"

// Every factory and handler counts here from construction to destruction.
// Changed with interlocked calls: Explorer runs handlers on several window
// threads, and COM may ask DllCanUnloadNow from yet another.
extern LONG g_nObjects;

inline void ModuleObjectCreated() { InterlockedIncrement(&g_nObjects); }
inline void ModuleObjectDestroyed() { InterlockedDecrement(&g_nObjects); }

// Windows NT and its successors (the approval entry, the per-user settings root).
bool IsWindowsNT();
#endif
