// Registering and unregistering the handler, for the machine or for the
// calling user; each never throws and tells the shell its handler lists
// changed. The module's exports are these.
#pragma once

#ifdef _WIN32
#include "framework/afxdefs.h"

// The machine's rows (DllRegisterServer, SELFREG_E_CLASS at the first key
// that cannot be created) or the user's (under HKEY_CURRENT_USER, which needs
// no administrator).
HRESULT RegisterServer(bool bForUser);
// The machine's keys (SELFREG_E_CLASS at the first that cannot be deleted),
// or the user's, which succeeds when they are already gone so that an
// uninstaller may run it twice.
HRESULT UnregisterServer(bool bForUser);

// An installer that finds this module loaded renames it to "<module>.<n>.old"
// before it puts the new file in place; the first process that loads the new
// file removes the ones no process holds any more. Runs once per process.
void RemoveMovedAsideCopies();
#endif
