#include "support/Settings.h"

HKEY g_hSettingsRoot = HKEY_LOCAL_MACHINE;
const CString g_strSettingsKey("SOFTWARE\\Tallowmere\\Kestrin");
