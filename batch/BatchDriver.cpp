// The two context-menu commands. Runs on the shell's thread: tidies the
// selection, asks for the settings, runs each file on a worker while the
// busy dialog shows progress, and reports failed files.
#include "batch/BatchDriver.h"

#include <algorithm>
#include <new>

#include "batch/Messages.h"
#include "batch/WorkItem.h"
#include "batch/Worker.h"
#include "container/FormatV2.h"
#include "container/PathUtils.h"
#include "framework/afxapp.h"
#include "framework/afxwin.h"
#include "support/RegistryKey.h"
#include "support/Settings.h"
#include "ui/BusyDlg.h"
#include "ui/SettingsDlg.h"

namespace {

const DWORD kPumpSliceMs = 200;
// Between polls the thread sleeps until a message arrives or this time has
// passed, so a batch does not hold a core while progress stays live.
const DWORD kPollWaitMs = 25;

struct BatchState {
    bool bEncrypt = true;
    CString strPassword;
    int nEncType = 0;
    int bBatch = 0;  // nonzero: the settings hold for the rest of the batch
    ~BatchState() { strPassword.SecureEmpty(); }
};

// Blanks what is not a regular file, sorts in descending byte order (blanks
// last) and drops the blanks.
void TidyFileList(CStringArray& files)
{
    CWaitCursor wait;
    for (int i = 0; i < files.GetSize(); ++i) {
        if (!IsRegularFile(files[i]))
            files[i].Empty();
    }
    CString* first = files.GetData();
    std::sort(first, first + files.GetSize(),
              [](const CString& a, const CString& b) { return a.Compare(b) > 0; });
    int n = files.GetSize();
    while (n > 0 && files[n - 1].IsEmpty())
        --n;
    files.SetSize(n);
}

void ReadSettings(BatchState& st)
{
    CRegistryKey key;
    if (key.Open(g_hSettingsRoot, g_strSettingsKey) != ERROR_SUCCESS)
        return;
    st.nEncType = int(key.ReadDWORD("EncType", 0));
    st.bBatch = key.ReadDWORD("BatchSettings", 0) != 0;
    key.Close();
}

void WriteSettings(const BatchState& st)
{
    CRegistryKey key;
    if (key.OpenWritable(g_hSettingsRoot, g_strSettingsKey) != ERROR_SUCCESS)
        return;  // OpenWritable has told the user; the batch goes on
    key.WriteDWORD("EncType", DWORD(st.nEncType));
    key.WriteDWORD("BatchSettings", DWORD(st.bBatch));
    key.Close();
}

// False when the user gave up: the batch ends without a message.
bool AskSettings(BatchState& st, const CString& strFile, CBusyDlg* pBusy)
{
    pBusy->ShowWindow(SW_HIDE);
    ReadSettings(st);
    CSettingsDlg dlg;
    dlg.m_strFileName = strFile;
    dlg.m_nEncType = st.nEncType;
    dlg.m_bConfirm = st.bEncrypt;
    dlg.m_bBatchSettings = st.bBatch;
    if (dlg.DoModal() != IDOK)
        return false;
    st.strPassword = dlg.m_strPassword;
    st.bBatch = dlg.m_bBatchSettings;
    st.nEncType = dlg.m_nEncType;
    WriteSettings(st);
    pBusy->ShowWindow(SW_SHOW);
    return true;
}

bool ReadBusyCancel(CBusyDlg* pBusy)
{
    CScopedLock lock(g_csWork);
    return pBusy->m_bCancel != 0;
}

// While the worker runs the item must stay alive: whatever ends the file
// early still waits here for the done flag.
class CRunningWorker {
public:
    explicit CRunningWorker(CWorkItem& item) : m_item(item) {}
    ~CRunningWorker()
    {
        if (!m_bRunning)
            return;
        LockedSet(m_item.m_bCancel, 1);
        while (!LockedGet(m_item.m_bDone))
            ::Sleep(kPollWaitMs);
    }
    void Finished() { m_bRunning = false; }
    CRunningWorker(const CRunningWorker&) = delete;
    CRunningWorker& operator=(const CRunningWorker&) = delete;

private:
    CWorkItem& m_item;
    bool m_bRunning = true;
};

// Polls until the worker is done; true when the user pressed Cancel.
bool WaitForWorker(CWorkItem& item, CBusyDlg* pBusy)
{
    CRunningWorker running(item);
    int nLastPercent = -1;
    bool bCancelled = false;
    for (;;) {
        bCancelled = ReadBusyCancel(pBusy);
        if (bCancelled)
            LockedSet(item.m_bCancel, 1);
        int bDone = LockedGet(item.m_bDone);
        int nPercent = LockedGet(item.m_nPercent);
        if (nPercent != nLastPercent) {
            pBusy->SetFilePos(nPercent);
            nLastPercent = nPercent;
        }
        PumpPendingMessages();
        if (bDone)
            break;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, kPollWaitMs, QS_ALLINPUT);
    }
    running.Finished();
    // A Cancel pressed during the last pump still means "no further file".
    return bCancelled || ReadBusyCancel(pBusy);
}

// False when the batch is to end: the user chose Cancel.
bool ReportResult(CWorkItem& item, const CString& strFile, CBusyDlg* pBusy)
{
    int nResult = LockedGet(item.m_nResult);
    if (nResult == WR_OK)
        return true;
    pBusy->ShowWindow(SW_HIDE);
    // A write failure names the path that could not be created, which for a
    // decryption is the one the decrypt routine chose, not the source.
    CString strPath = nResult == WR_WRITE_ERROR ? LockedCopy(item.m_strDest) : strFile;
    if (AfxMessageBox(FormatResultMessage(nResult, strPath, true), MB_OKCANCEL, 0) == IDCANCEL)
        return false;
    pBusy->ShowWindow(SW_SHOW);
    return true;
}

// One file; false when the batch is to end.
bool ProcessFile(BatchState& st, const CString& strFile, int nIndex, int nCount, CBusyDlg* pBusy)
{
    if (!st.bBatch && !AskSettings(st, strFile, pBusy))
        return false;
    CString strCount;
    strCount.Format("Processing file %d of %d", nIndex + 1, nCount);
    pBusy->SetCountText(strCount);
    pBusy->SetPathText(strFile);
    pBusy->StepTotal();
    PumpPendingMessages();

    CWorkItem item;
    item.m_strSource = strFile;
    item.m_strDest = st.bEncrypt ? MakeEncryptedName(strFile) : strFile;
    item.m_strPassword = st.strPassword;
    item.m_bEncrypt = st.bEncrypt;
    item.m_nEncType = st.nEncType;
    if (!StartWorker(&item))
        return false;
    if (WaitForWorker(item, pBusy))
        return false;
    return ReportResult(item, strFile, pBusy);
}

void RunFiles(BatchState& st, CStringArray& files, CBusyDlg* pBusy)
{
    const int nCount = files.GetSize();
    try {
        for (int i = 0; i < nCount; ++i) {
            if (!ProcessFile(st, files[i], i, nCount, pBusy))
                break;
        }
    } catch (const std::bad_alloc&) {
        AfxMessageBox("Out of memory.", MB_OK);
    } catch (...) {
        AfxMessageBox("An unexpected error ended the operation.", MB_OK);
    }
}

CBusyDlg* NewBusyDialog()
{
    try {
        return new CBusyDlg;
    } catch (const std::bad_alloc&) {
        AfxMessageBox("Out of memory.", MB_OK);
        return nullptr;
    }
}

void EndBatch(CBusyDlg* pBusy, HWND hwndOwner)
{
    if (pBusy) {
        pBusy->ShowWindow(SW_HIDE);
        if (pBusy->m_hWnd)
            pBusy->DestroyWindow();  // the dialog deletes itself
        else
            delete pBusy;  // no window: nothing would ever delete it
    }
    if (hwndOwner)
        ::PostMessageA(hwndOwner, WM_ENABLE, TRUE, 0);
    CWnd::DeleteTempMap();
    // The batch's master keys are not kept for the next one.
    MasterKeys().Clear();
}

}  // namespace

void PumpPendingMessages()
{
    const DWORD dwStart = ::GetTickCount();
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE) && ::GetTickCount() - dwStart < kPumpSliceMs) {
        if (!AfxPumpMessage())
            break;
    }
}

void RunBatch(CStringArray& files, bool bEncrypt, HWND hwndOwner)
{
    if (hwndOwner)
        ::PostMessageA(hwndOwner, WM_ENABLE, FALSE, 0);
    CBusyDlg* pBusy = nullptr;
    try {
        BatchState st;
        st.bEncrypt = bEncrypt;
        TidyFileList(files);
        CWnd* pParent = hwndOwner ? CWnd::FromHandle(hwndOwner) : nullptr;
        pBusy = NewBusyDialog();
        if (pBusy) {
            pBusy->Create(pParent);
            if (pBusy->m_hWnd && ::IsWindow(pBusy->m_hWnd))
                pBusy->ShowWindow(SW_SHOW);
            pBusy->SetTotal(files.GetSize() + 1);
            RunFiles(st, files, pBusy);
        }
    } catch (const std::bad_alloc&) {
        AfxMessageBox("Out of memory.", MB_OK);
    } catch (...) {
        AfxMessageBox("An unexpected error ended the operation.", MB_OK);
    }
    EndBatch(pBusy, hwndOwner);
}
