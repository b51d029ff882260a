// The two context-menu commands: tidy the selection, ask for settings, run
// each file on a worker while the busy dialog shows progress, report failures.
#pragma once

#ifdef _WIN32
#include "framework/afxdefs.h"
#include "framework/afxstr.h"

// Runs one batch on the calling (shell) thread and returns when it is over.
// files: the selection, tidied in place. bEncrypt: the direction.
// hwndOwner: the shell's window, may be null. Never throws.
void RunBatch(CStringArray& files, bool bEncrypt, HWND hwndOwner);

// Dispatches the calling thread's pending messages for at most 200 ms;
// returns at once when none is waiting.
void PumpPendingMessages();
#endif
