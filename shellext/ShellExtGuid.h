// The class identifier of the context-menu handler, the one class this
// module serves. Tests and registration checks use the same value.
#pragma once

#ifdef _WIN32
#include "framework/afxdefs.h"

// {9DE8B5E6-A39D-4B03-98B2-CE9D236ACE8A}
inline constexpr CLSID CLSID_ShellExt = {0x9de8b5e6, 0xa39d, 0x4b03, {0x98, 0xb2, 0xce, 0x9d, 0x23, 0x6a, 0xce, 0x8a}};
inline constexpr const char kShellExtClsidString[] = "{9DE8B5E6-A39D-4B03-98B2-CE9D236ACE8A}";
#endif
