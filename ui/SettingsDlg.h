// The modal question asked before a file is encrypted or decrypted: password
// (with its confirmation when encrypting), method and the batch checkbox;
// and the About box it opens.
#pragma once

#ifdef _WIN32
#include "framework/afxwin.h"
#include "ui/DpiIcons.h"

class CSettingsDlg : public CDialog {
public:
    explicit CSettingsDlg(CWnd* pParent = nullptr);
    ~CSettingsDlg() override;

    CString m_strPassword;
    int m_bBatchSettings;
    CString m_strFileName;
    int m_nEncType;  // -1 when no method is selected
    CString m_strConfirm;
    bool m_bConfirm;  // encrypting: the confirmation must match
    // Asking again for a file: why (shown below its path); empty otherwise.
    CString m_strNote;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    BOOL OnWndMsg(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;
    void OnAbout();

private:
    void Refuse(const char* pszText, int nFocusId);
    void LoadIcons(UINT nDpi);
    void ShowNote();
    void AddMethodTip();

    CDpiIcons m_productIcon;
};

class CAboutDlg : public CDialog {
public:
    explicit CAboutDlg(CWnd* pParent = nullptr);

    CString m_strVersion;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
};
#endif
