// The modeless dialog shown while a batch runs: which file, how far the file
// and the batch have got, an animated icon, and Cancel, which only records a
// stop request for the batch driver. Its owner deletes it: the window may be
// destroyed by someone else (with the window that owns it), and the object
// then stays, windowless, until its owner lets it go.
#pragma once

#ifdef _WIN32
#include "framework/afxwin.h"
#include "ui/DpiIcons.h"
#include "ui/EllipsisLabel.h"
#include "ui/GradientProgressCtrl.h"

class CBusyDlg : public CDialog {
public:
    CBusyDlg();

    using CDialog::Create;
    virtual BOOL Create(CWnd* pParent);
    void SetTotal(int nTotal);
    void SetTotalPos(int nPos);
    void SetCountText(const char* pszText);
    void SetPathText(const char* pszText);
    void SetFilePos(int nPos);

    int m_nIconFrame;
    CWnd* m_pParent;
    int m_bCancel;  // under g_csWork
    CButton m_btnCancel;
    CStatic m_stCount;
    CStatic m_stIcon;
    CGradientProgressCtrl m_progFile;
    CGradientProgressCtrl m_progTotal;
    CEllipsisLabel m_stPath;
    CDpiIcons m_busyIcons;  // the animation frames, icons 131..139
    CDpiIcons m_productIcon;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    BOOL OnWndMsg(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;

private:
    void OnShowWindow(BOOL bShow);
    void OnTimer();
    void LoadIcons(UINT nDpi);
};
#endif
