// Placeholder until the user interface lands: re-enables the owner and returns.
#include "batch/BatchDriver.h"

void RunBatch(CStringArray&, bool, HWND hwndOwner)
{
    if (hwndOwner)
        PostMessageA(hwndOwner, WM_ENABLE, TRUE, 0);
}
