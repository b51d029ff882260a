// The two context-menu commands: take the selection (folders opened into
// their files), ask for settings, run each file on a worker while the busy
// dialog shows progress, report failures.
#pragma once

#ifdef _WIN32
#include "framework/afxdefs.h"
#include "framework/afxstr.h"

// Runs one batch on the calling (shell) thread and returns when it is over.
// files: the selection, replaced by the files to do, in their order. bEncrypt: the direction.
// hwndOwner: the shell's window, may be null. Never throws.
// The host going away ends the batch as Cancel does: the owner window or the
// busy dialog destroyed, or a WM_QUIT, which is posted again once the batch
// is over. A call made while this thread already runs a batch (a command
// delivered through the batch's own message pump) only says so in a message
// box and returns.
void RunBatch(CStringArray& files, bool bEncrypt, HWND hwndOwner);
#endif
