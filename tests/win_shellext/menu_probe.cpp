// Prints the image the registered handler puts beside its menu item, as a
// program started at the prefix's DPI setting sees it (menu_dpi.cmake runs
// it at two settings). Its manifest makes it per-monitor DPI aware, as
// Explorer is.
#include <windows.h>

#include <objbase.h>
#include <shlobj.h>

#include <cstdio>

#include "MenuImageCheck.h"
#include "shellext/ShellExtGuid.h"

int main()
{
    CoInitialize(nullptr);
    IContextMenu* pMenu = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellExt, nullptr, CLSCTX_INPROC_SERVER, IID_IContextMenu,
                                reinterpret_cast<void**>(&pMenu)))) {
        std::fprintf(stderr, "Kestrin is not registered\n");
        return 3;
    }
    HMENU hMenu = CreatePopupMenu();
    pMenu->QueryContextMenu(hMenu, 0, 100, 200, CMF_NORMAL);
    MENUITEMINFOA mii = {};
    mii.cbSize = sizeof mii;
    mii.fMask = MIIM_BITMAP;
    GetMenuItemInfoA(hMenu, 0, TRUE, &mii);
    std::printf("%s\n", DescribeMenuImage(mii.hbmpItem).c_str());
    DestroyMenu(hMenu);
    pMenu->Release();
    CoUninitialize();
    return 0;
}
