// An off-screen drawing context: drawing goes to a bitmap of the target's
// clip box, copied to the target in one blit when the object goes. A printer
// context is drawn on directly.
#pragma once

#ifdef _WIN32
#include "framework/afxwin.h"

class CMemoryDC : public CDC {
public:
    explicit CMemoryDC(CDC* pDC);
    ~CMemoryDC() override;

private:
    CBitmap m_bitmap;
    HBITMAP m_hOldBitmap = nullptr;
    CDC* m_pDC;
    RECT m_rect{};
    bool m_bMemDC;
};
#endif
