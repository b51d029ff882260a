// The image beside the "Kestrin" menu item: the padlock of res/MenuPadlock.h
// drawn at the size a menu shows small icons at for a DPI, as a 32-bit
// top-down bitmap with premultiplied alpha (what menus blend onto their
// background). One bitmap per size, kept as long as the module: a host may
// destroy its menu after it has released the handler that filled it.
#pragma once

#ifdef _WIN32
#include "framework/afxdefs.h"

// Null when the bitmap cannot be made; the item then shows no image.
HBITMAP GetMenuImage(UINT nDpi);
#endif
