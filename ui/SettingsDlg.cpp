#include "ui/SettingsDlg.h"

#include "base/PathUtils.h"
#include "framework/afxapp.h"
#include "framework/afxconv.h"
#include "res/resource.h"
#include "support/Dpi.h"
#include "support/VersionInfo.h"

namespace {
const int kMinPasswordLength = 4;
const int kMethodCount = 5;  // the list ends with the authenticated method, EncType 4
// Room the note takes from the controls below it, in dialog units.
const int kNoteShift = 12;
const char kFirstGuessTip[] =
    "Only the first guess: if this method does not open the file, Kestrin tries the others.";

RECT ClientRectOf(HWND hChild, HWND hParent)
{
    RECT rc{};
    ::GetWindowRect(hChild, &rc);
    ::MapWindowPoints(nullptr, hParent, reinterpret_cast<POINT*>(&rc), 2);
    return rc;
}
}  // namespace

CSettingsDlg::CSettingsDlg(CWnd* pParent)
    : CDialog(IDD_SETTINGS, pParent), m_bBatchSettings(0), m_nEncType(0), m_bConfirm(true),
      m_productIcon(IDI_KESTRIN, 1) {}

CSettingsDlg::~CSettingsDlg()
{
    m_strPassword.SecureEmpty();
    m_strConfirm.SecureEmpty();
}

void CSettingsDlg::DoDataExchange(CDataExchange* pDX)
{
    DDX_Text(pDX, IDC_PASSWORD, m_strPassword);
    DDX_Check(pDX, IDC_BATCHSETTINGS, m_bBatchSettings);
    DDX_Text(pDX, IDC_FILENAME, m_strFileName);
    DDX_CBIndex(pDX, IDC_ENCTYPE, m_nEncType);
    DDX_Text(pDX, IDC_CONFIRM, m_strConfirm);
}

BOOL CSettingsDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    if (!m_strNote.IsEmpty())
        ShowNote();
    CenterWindow();  // the template places it at its owner's corner
    LoadIcons(GetWindowDpi(m_hWnd));
    if (!m_bConfirm) {
        ::EnableWindow(::GetDlgItem(m_hWnd, IDC_CONFIRM), FALSE);
        // The minimum is for new passwords: a container made elsewhere may
        // have a shorter one (four bytes in a double-byte code page).
        ::SetDlgItemTextA(m_hWnd, IDC_PASSWORD_LABEL, "Password :");
        AddMethodTip();
    }
    return TRUE;  // the focus goes to the first tab stop, OK
}

// The note goes below the file's path; the controls under it move down and
// the dialog grows by as much.
void CSettingsDlg::ShowNote()
{
    CWnd* pNote = GetDlgItem(IDC_NOTE);
    if (!pNote)
        return;
    const HWND hNote = pNote->m_hWnd;
    pNote->SetWindowText(m_strNote);
    RECT rcShift = {0, 0, 0, kNoteShift};
    ::MapDialogRect(m_hWnd, &rcShift);
    const int nShift = rcShift.bottom;
    const int nNoteTop = ClientRectOf(hNote, m_hWnd).top;
    for (HWND hChild = ::GetWindow(m_hWnd, GW_CHILD); hChild; hChild = ::GetWindow(hChild, GW_HWNDNEXT)) {
        const RECT rc = ClientRectOf(hChild, m_hWnd);
        if (hChild != hNote && rc.top > nNoteTop)
            ::SetWindowPos(hChild, nullptr, rc.left, rc.top + nShift, 0, 0,
                           SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    RECT rcDialog{};
    ::GetWindowRect(m_hWnd, &rcDialog);
    ::SetWindowPos(m_hWnd, nullptr, 0, 0, rcDialog.right - rcDialog.left, rcDialog.bottom - rcDialog.top + nShift,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    pNote->ShowWindow(SW_SHOW);
}

// Decrypting, the method list is a first guess (the batch tries the others
// too): its tooltip says so, on the list and on its label.
void CSettingsDlg::AddMethodTip()
{
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&icc);
    HWND hTip = ::CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, m_hWnd, nullptr,
                                  nullptr, nullptr);
    if (!hTip)
        return;  // the dialog works without it
    const std::wstring text = Utf8ToWide(kFirstGuessTip);
    ::SendMessageW(hTip, TTM_SETMAXTIPWIDTH, 0, 320);
    for (int nId : {IDC_ENCTYPE, IDC_METHOD_LABEL}) {
        TTTOOLINFOW ti{};
        ti.cbSize = TTTOOLINFOW_V2_SIZE;  // understood by every version of the control
        ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        ti.hwnd = m_hWnd;
        ti.uId = reinterpret_cast<UINT_PTR>(::GetDlgItem(m_hWnd, nId));
        ti.lpszText = const_cast<wchar_t*>(text.c_str());
        ::SendMessageW(hTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
    }
}

void CSettingsDlg::Refuse(const char* pszText, int nFocusId)
{
    AfxMessageBox(pszText, MB_OK);
    ::SetFocus(::GetDlgItem(m_hWnd, nFocusId));
}

void CSettingsDlg::OnOK()
{
    // A lone surrogate (pasted, or typed with an input method) has no UTF-8
    // form; any stand-in would key another password than the one typed.
    if (!UpdateData(TRUE)) {
        Refuse("The password contains a character that is not valid Unicode text. Please re-enter it.",
               LastFailedControl());
        return;
    }
    // Characters, not bytes: "äöüß" is four characters in any encoding.
    if (m_bConfirm && Utf8Length(m_strPassword) < kMinPasswordLength) {
        Refuse("You must choose a password that is at least 4 characters long.", IDC_PASSWORD);
        return;
    }
    if (m_bConfirm && m_strPassword != m_strConfirm) {
        AfxMessageBox("Confirmation password does not match. Please re-enter both passwords", MB_OK);
        m_strConfirm.SecureEmpty();
        m_strPassword.SecureEmpty();
        UpdateData(FALSE);
        ::SetFocus(::GetDlgItem(m_hWnd, IDC_PASSWORD));
        return;
    }
    // Without a method the worker would skip the file and the batch would
    // report success for a file it never touched.
    if (m_nEncType < 0 || m_nEncType >= kMethodCount) {
        Refuse("Please choose an encryption method.", IDC_ENCTYPE);
        return;
    }
    CDialog::OnOK();
}

// The icon at the size for nDpi; the template's controls and fonts are
// scaled by the system.
void CSettingsDlg::LoadIcons(UINT nDpi)
{
    m_productIcon.Load(nDpi);
    SetDlgItemIcon(m_hWnd, IDC_PRODUCT_ICON, m_productIcon[0]);
}

BOOL CSettingsDlg::OnWndMsg(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    if (msg == WM_DPICHANGED) {  // moved to a monitor of another DPI
        LoadIcons(LOWORD(wParam));
        return FALSE;  // the default handling resizes the dialog
    }
    return CDialog::OnWndMsg(msg, wParam, lParam, pResult);
}

BOOL CSettingsDlg::OnCommand(WPARAM wParam, LPARAM lParam)
{
    if (LOWORD(wParam) == IDC_ABOUT && HIWORD(wParam) == BN_CLICKED) {
        OnAbout();
        return TRUE;
    }
    return CDialog::OnCommand(wParam, lParam);
}

void CSettingsDlg::OnAbout()
{
    CAboutDlg dlg;
    dlg.DoModal();
}

CAboutDlg::CAboutDlg(CWnd* pParent) : CDialog(IDD_ABOUT, pParent) {}

void CAboutDlg::DoDataExchange(CDataExchange* pDX) { DDX_Text(pDX, IDC_VERSION, m_strVersion); }

BOOL CAboutDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    CVersionInfo info;
    info.Load(GetModulePath());
    CString strVersion, strSpecial;
    info.GetFileVersion(strVersion);
    info.GetString(strSpecial, "SpecialBuild");
    if (!strSpecial.IsEmpty())
        strVersion += " " + strSpecial;
    m_strVersion = CString("Kestrin") + ", Version " + strVersion;
    UpdateData(FALSE);
    CenterWindow();
    return TRUE;
}
