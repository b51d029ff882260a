// What the module's objects share: the count of live COM objects that
// decides whether the module may be unloaded.
#pragma once

#ifdef _WIN32
#include "framework/afxdefs.h"

// Every factory and handler counts here from construction to destruction.
// Changed with interlocked calls: Explorer runs handlers on several window
// threads, and COM may ask DllCanUnloadNow from yet another.
extern LONG g_nObjects;

inline void ModuleObjectCreated() { InterlockedIncrement(&g_nObjects); }
inline void ModuleObjectDestroyed() { InterlockedDecrement(&g_nObjects); }
#endif
