// Thin owners of GDI objects in the framework's shape: the object deletes the
// handle it holds when it is destroyed, unless it was detached.
#pragma once

#ifdef _WIN32
#include "framework/afxdefs.h"

class CGdiObject {
public:
    CGdiObject() = default;
    virtual ~CGdiObject() { DeleteObject(); }
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;

    BOOL Attach(HGDIOBJ h) { if (m_hObject) return FALSE; m_hObject = h; return h != nullptr; }
    HGDIOBJ Detach() { HGDIOBJ h = m_hObject; m_hObject = nullptr; return h; }
    BOOL DeleteObject() { if (!m_hObject) return FALSE; BOOL ok = ::DeleteObject(m_hObject); m_hObject = nullptr; return ok; }
    HGDIOBJ GetSafeHandle() const { return m_hObject; }

    HGDIOBJ m_hObject = nullptr;
};

class CBitmap : public CGdiObject {
public:
    BOOL LoadBitmap(HINSTANCE hInst, UINT nId)
    {
        return Attach(::LoadBitmapA(hInst, MAKEINTRESOURCEA(nId)));
    }
    BOOL CreateCompatibleBitmap(HDC hdc, int cx, int cy)
    {
        return Attach(::CreateCompatibleBitmap(hdc, cx, cy));
    }
    // A 32-bit top-down DIB section: *ppBits receives its rows of BGRA
    // pixels, top row first, for the caller to fill.
    BOOL CreateTopDownDIB(int cx, int cy, void** ppBits)
    {
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
        bi.bmiHeader.biWidth = cx;
        bi.bmiHeader.biHeight = -cy;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        return Attach(::CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, ppBits, nullptr, 0));
    }
    operator HBITMAP() const { return static_cast<HBITMAP>(m_hObject); }
};

class CBrush : public CGdiObject {
public:
    CBrush() = default;
    explicit CBrush(COLORREF clr) { Attach(::CreateSolidBrush(clr)); }
    BOOL CreateSolidBrush(COLORREF clr) { return Attach(::CreateSolidBrush(clr)); }
    operator HBRUSH() const { return static_cast<HBRUSH>(m_hObject); }
};
#endif
