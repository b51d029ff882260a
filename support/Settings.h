// Where the two persisted settings ("EncType", "BatchSettings") live. The
// root starts as HKEY_LOCAL_MACHINE; the module's initialisation moves it to
// HKEY_CURRENT_USER on Windows NT, where a user may not write the machine hive.
#pragma once

#ifdef _WIN32
#include "framework/afxdefs.h"
#include "framework/afxstr.h"

extern HKEY g_hSettingsRoot;
extern const CString g_strSettingsKey;
#endif
