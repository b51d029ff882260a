#include "ui/BusyDlg.h"

#include "container/WorkItem.h"
#include "framework/afxres.h"
#include "res/resource.h"
#include "support/Dpi.h"

namespace {
const UINT_PTR kAnimationTimer = 10;
const UINT kAnimationPeriod = 500;  // ms
// The cycle runs through the nine frames only, so the icon never blinks out.
const int kAnimationFrames = IDI_BUSY_LAST - IDI_BUSY_FIRST + 1;
}  // namespace

CBusyDlg::CBusyDlg()
    : CDialog(IDD_BUSY), m_nIconFrame(0), m_pParent(nullptr), m_bCancel(0),
      m_stPath(DT_NOPREFIX | DT_VCENTER | DT_PATH_ELLIPSIS), m_busyIcons(IDI_BUSY_FIRST, kAnimationFrames),
      m_productIcon(IDI_KESTRIN, 1) {}

BOOL CBusyDlg::Create(CWnd* pParent)
{
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&icc);
    m_pParent = pParent;
    return CDialog::Create(IDD_BUSY, pParent);
}

void CBusyDlg::DoDataExchange(CDataExchange* pDX)
{
    DDX_Control(pDX, IDC_PROGRESS_FILE, m_progFile);
    DDX_Control(pDX, IDCANCEL, m_btnCancel);
    DDX_Control(pDX, IDC_COUNT, m_stCount);
    DDX_Control(pDX, IDC_BUSYICON, m_stIcon);
    DDX_Control(pDX, IDC_PROGRESS_TOTAL, m_progTotal);
}

BOOL CBusyDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    m_stCount.SetWindowText("");
    CenterWindow();
    {
        CScopedLock lock(g_csWork);
        m_bCancel = 0;
    }
    m_stPath.SubclassDlgItem(IDC_PATH, this);
    m_progFile.SetRange(0, 101);
    m_progFile.SetPos(0);
    LoadIcons(GetWindowDpi(m_hWnd));
    return TRUE;
}

// The dialog's own icons at the size for nDpi; the templates' controls and
// fonts are scaled by the system.
void CBusyDlg::LoadIcons(UINT nDpi)
{
    m_busyIcons.Load(nDpi);
    m_productIcon.Load(nDpi);
    m_stIcon.SetIcon(m_busyIcons[m_nIconFrame]);
    SetDlgItemIcon(m_hWnd, IDC_PRODUCT_ICON, m_productIcon[0]);
}

// Enter must not end a dialog that only the batch driver may take down.
void CBusyDlg::OnOK() {}

// The dialog stays up until the driver has seen the flag and the worker has
// stopped at its next block.
void CBusyDlg::OnCancel()
{
    m_btnCancel.EnableWindow(FALSE);
    m_stCount.SetWindowText("Waiting for operation to complete.");
    CScopedLock lock(g_csWork);
    m_bCancel = 1;
}

BOOL CBusyDlg::OnWndMsg(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    // Each passes on to the default handling afterwards.
    if (msg == WM_SHOWWINDOW) {
        OnShowWindow(BOOL(wParam));
        return FALSE;
    }
    if (msg == WM_TIMER) {
        OnTimer();
        return FALSE;
    }
    if (msg == WM_DPICHANGED) {  // moved to a monitor of another DPI
        LoadIcons(LOWORD(wParam));
        return FALSE;
    }
    return CDialog::OnWndMsg(msg, wParam, lParam, pResult);
}

void CBusyDlg::OnShowWindow(BOOL bShow)
{
    if (bShow) {
        SetTimer(kAnimationTimer, kAnimationPeriod);
        m_nIconFrame = 0;
        m_stIcon.SetIcon(m_busyIcons[0]);
    } else {
        KillTimer(kAnimationTimer);
        m_nIconFrame = 0;
    }
}

void CBusyDlg::OnTimer()
{
    m_stIcon.SetIcon(m_busyIcons[m_nIconFrame]);
    if (++m_nIconFrame >= kAnimationFrames)
        m_nIconFrame = 0;
}

void CBusyDlg::SetTotal(int nTotal)
{
    m_progTotal.SetRange(0, nTotal);
    m_progTotal.SetStep(1);
    m_progTotal.SetPos(0);
}

void CBusyDlg::SetTotalPos(int nPos) { m_progTotal.SetPos(nPos); }
void CBusyDlg::SetCountText(const char* pszText) { m_stCount.SetWindowText(pszText); }
void CBusyDlg::SetPathText(const char* pszText) { m_stPath.SetWindowText(pszText); }
void CBusyDlg::SetFilePos(int nPos) { m_progFile.SetPos(nPos); }
