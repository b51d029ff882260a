#include "ui/MemoryDC.h"

CMemoryDC::CMemoryDC(CDC* pDC) : m_pDC(pDC), m_bMemDC(!pDC->IsPrinting())
{
    if (!m_bMemDC) {
        // Borrowed: the destructor forgets the handle instead of deleting it.
        m_hDC = pDC->m_hDC;
        m_bPrinting = pDC->m_bPrinting;
        return;
    }
    pDC->GetClipBox(&m_rect);
    CreateCompatibleDC(pDC);
    m_bitmap.CreateCompatibleBitmap(pDC->m_hDC, m_rect.right - m_rect.left, m_rect.bottom - m_rect.top);
    if (m_bitmap.GetSafeHandle())
        m_hOldBitmap = SelectObject(&m_bitmap);
    SetWindowOrg(m_rect.left, m_rect.top);
}

CMemoryDC::~CMemoryDC()
{
    if (m_bMemDC) {
        m_pDC->BitBlt(m_rect.left, m_rect.top, m_rect.right - m_rect.left, m_rect.bottom - m_rect.top,
                      this, m_rect.left, m_rect.top, SRCCOPY);
        if (m_hOldBitmap)
            SelectObject(m_hOldBitmap);
    } else {
        m_hDC = nullptr;
    }
}
