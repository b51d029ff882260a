// The two context-menu commands. Runs on the shell's thread: opens the
// selected folders into their files, asks for the settings (again, at once,
// for a file the password did not open), runs each file on a worker while
// the busy dialog shows progress, reports failed files, and sums up a batch
// of several files that did not all go well.
//
// The batch runs inside the host's process and pumps the host's messages, so
// the host may, meanwhile, destroy the window that owns our dialogs (taking
// the dialogs with it), ask the thread to quit, or deliver another command.
// None of these may reach a destroyed object: the driver owns the busy
// dialog, looks at its window and the owner's after every pump, and treats a
// window gone or a WM_QUIT as Cancel.
#include "batch/BatchDriver.h"

#include <memory>
#include <new>

#include "container/Messages.h"
#include "container/WorkItem.h"
#include "batch/Selection.h"
#include "batch/Worker.h"
#include "cipher/Methods.h"
#include "container/FormatV2.h"
#include "base/PathUtils.h"
#include "framework/afxapp.h"
#include "framework/afxwin.h"
#include "support/RegistryKey.h"
#include "support/Settings.h"
#include "ui/BusyDlg.h"
#include "ui/SettingsDlg.h"

namespace {

const DWORD kPumpSliceMs = 200;
// While a file is in work the file bar is brought up to date this often; the
// end of the file wakes the thread at once through the item's event.
const DWORD kProgressMs = 50;
// Labels and bars are repainted at most this often. Small files finish
// faster than anyone can read their names, and repainting is most of a small
// file's cost on the shell's thread.
const DWORD kDisplayMs = 50;

const char kAlreadyRunning[] = "Kestrin is already processing files.";

// A command delivered through this thread's own pump while its batch runs:
// a batch inside the batch would free what the outer one still holds.
thread_local bool t_bBatchRunning = false;

class CBatchRunningFlag {
public:
    CBatchRunningFlag() { t_bBatchRunning = true; }
    ~CBatchRunningFlag() { t_bBatchRunning = false; }
    CBatchRunningFlag(const CBatchRunningFlag&) = delete;
    CBatchRunningFlag& operator=(const CBatchRunningFlag&) = delete;
};

// An auto-reset event, closed on every way out.
class CEventHandle {
public:
    CEventHandle() : m_h(::CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}
    ~CEventHandle()
    {
        if (m_h)
            ::CloseHandle(m_h);
    }
    CEventHandle(const CEventHandle&) = delete;
    CEventHandle& operator=(const CEventHandle&) = delete;
    HANDLE Get() const { return m_h; }

private:
    HANDLE m_h;
};

// Without a saved choice the list starts on the one method that stretches
// the password and authenticates every byte.
const int kFirstRunEncType = kEncTypeAuthenticated;

struct BatchState {
    bool bEncrypt = true;
    CString strPassword;
    int nEncType = kFirstRunEncType;
    int bBatch = 0;  // nonzero: the settings hold for the rest of the batch
    HWND hwndOwner = nullptr;
    CBusyDlg* pBusy = nullptr;  // owned by RunBatch
    bool bBusyWindow = false;   // its window was created
    HANDLE hDone = nullptr;     // the workers' completion event, may be null
    bool bQuit = false;         // a WM_QUIT taken off the queue
    int nQuitCode = 0;
    bool bShown = false;        // something was displayed, at dwShown
    DWORD dwShown = 0;
    CBatchSummary summary;      // how the files went, told at the end
    ~BatchState() { strPassword.SecureEmpty(); }
};

// Takes a WM_QUIT that a nested loop (a dialog, a message box) left queued.
void TakeQuit(BatchState& st)
{
    MSG msg;
    if (!st.bQuit && ::PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        st.bQuit = true;
        st.nQuitCode = int(msg.wParam);
    }
}

// True when the batch must end as if Cancel had been pressed: the host asked
// the thread to quit (a WM_QUIT our own pump took), or destroyed the busy
// dialog or the window owning it.
bool HostGone(const BatchState& st)
{
    const bool bBusyGone = st.bBusyWindow && !st.pBusy->m_hWnd;
    const bool bOwnerGone = st.hwndOwner && !::IsWindow(st.hwndOwner);
    return st.bQuit || bBusyGone || bOwnerGone;
}

// The same after a nested loop (a dialog, a message box), which leaves a
// WM_QUIT it met in the queue for us.
bool HostEnded(BatchState& st)
{
    TakeQuit(st);
    return HostGone(st);
}

// Dispatches pending messages for at most kPumpSliceMs; a WM_QUIT is kept
// back for the host and ends the batch.
void PumpPending(BatchState& st)
{
    const DWORD dwStart = ::GetTickCount();
    MSG msg;
    while (!st.bQuit && ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE) &&
           ::GetTickCount() - dwStart < kPumpSliceMs) {
        int nQuitCode = 0;
        if (!AfxPumpMessage(nQuitCode)) {
            st.bQuit = true;
            st.nQuitCode = nQuitCode;
        }
    }
}

bool ReadBusyCancel(const BatchState& st)
{
    CScopedLock lock(g_csWork);
    return st.pBusy->m_bCancel != 0;
}

// Opens the selected folders into their files and puts the list in order
// (ExpandSelection); a long walk keeps the shell's messages flowing and
// stops on Cancel. Anything else the user selected stays, even when it
// cannot be read: its failure is reported like any other, never skipped in
// silence. False when the batch is to end.
bool GatherFiles(BatchState& st, CStringArray& files)
{
    CWaitCursor wait;
    DWORD dwPumped = ::GetTickCount();
    return ExpandSelection(files, st.bEncrypt, [&st, &dwPumped] {
        if (::GetTickCount() - dwPumped < kPumpSliceMs)
            return true;
        PumpPending(st);
        dwPumped = ::GetTickCount();
        return !ReadBusyCancel(st) && !HostGone(st);
    });
}

// The dialog's presets: the values in force, overridden by the saved ones.
void ReadSettings(int& nEncType, int& bBatch)
{
    CRegistryKey key;
    if (key.Open(g_hSettingsRoot, g_strSettingsKey) != ERROR_SUCCESS)
        return;
    nEncType = int(key.ReadDWORD("EncType", kFirstRunEncType));
    bBatch = key.ReadDWORD("BatchSettings", 0) != 0;
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

// False when the user gave up or the host ended the batch meanwhile; the
// settings in force change only on OK. strNote: why the dialog asks again
// for this file (empty the first time).
bool AskSettings(BatchState& st, const CString& strFile, const CString& strNote = CString())
{
    st.pBusy->ShowWindow(SW_HIDE);
    int nEncType = st.nEncType, bBatch = st.bBatch;
    ReadSettings(nEncType, bBatch);
    CSettingsDlg dlg(st.hwndOwner ? CWnd::FromHandle(st.hwndOwner) : nullptr);
    dlg.m_strFileName = strFile;
    dlg.m_nEncType = nEncType;
    dlg.m_bConfirm = st.bEncrypt;
    dlg.m_bBatchSettings = bBatch;
    dlg.m_strNote = strNote;
    const INT_PTR nAnswer = dlg.DoModal();
    if (nAnswer != IDOK || HostEnded(st))
        return false;
    st.strPassword = dlg.m_strPassword;
    st.bBatch = dlg.m_bBatchSettings;
    st.nEncType = dlg.m_nEncType;
    WriteSettings(st);
    if (HostEnded(st))  // the registry's own message box pumps too
        return false;
    st.pBusy->ShowWindow(SW_SHOW);
    return true;
}

// While the worker runs the item must stay alive: whatever ends the file
// early still waits here for the done flag.
class CRunningWorker {
public:
    CRunningWorker(CWorkItem& item, HANDLE hDone) : m_item(item), m_hDone(hDone) {}
    ~CRunningWorker()
    {
        if (!m_bRunning)
            return;
        LockedSet(m_item.m_bCancel, 1);
        // The worker stops at its next block; the flag decides, the event
        // only saves the polling.
        while (!LockedGet(m_item.m_bDone)) {
            if (m_hDone)
                ::WaitForSingleObject(m_hDone, kProgressMs);
            else
                ::Sleep(kProgressMs);
        }
    }
    void Finished() { m_bRunning = false; }
    CRunningWorker(const CRunningWorker&) = delete;
    CRunningWorker& operator=(const CRunningWorker&) = delete;

private:
    CWorkItem& m_item;
    HANDLE m_hDone;
    bool m_bRunning = true;
};

// What the driver and the batch's worker thread share. It lives until both
// have let go: the thread may still be on its way out when the batch is over.
struct CWorkerMailbox {
    HANDLE hPosted = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    CWorkItem* pItem = nullptr;  // under g_csWork: the next file
    bool bQuit = false;          // under g_csWork
    CWorkerMailbox() = default;
    ~CWorkerMailbox()
    {
        if (hPosted)
            ::CloseHandle(hPosted);
    }
    CWorkerMailbox(const CWorkerMailbox&) = delete;
    CWorkerMailbox& operator=(const CWorkerMailbox&) = delete;
};

// The batch's worker: each posted item goes through WorkerThreadProc, one at
// a time, until the driver says quit.
UINT BatchWorkerProc(LPVOID pParam)
{
    std::unique_ptr<std::shared_ptr<CWorkerMailbox>> pHeld(static_cast<std::shared_ptr<CWorkerMailbox>*>(pParam));
    CWorkerMailbox& box = **pHeld;
    for (;;) {
        ::WaitForSingleObject(box.hPosted, INFINITE);
        CWorkItem* pItem;
        {
            CScopedLock lock(g_csWork);
            if (box.bQuit)
                return 0;
            pItem = box.pItem;
            box.pItem = nullptr;
        }
        if (pItem)
            WorkerThreadProc(pItem);
    }
}

// One worker thread for the whole batch, handed the files one at a time:
// starting a thread costs more than a small file's whole work (under Wine
// about as much as ten 1 KiB files), and a file's cost should be its own.
// The thread holds the module until it has gone (CWinThread).
class CBatchWorker {
public:
    CBatchWorker() = default;
    ~CBatchWorker() { Stop(); }
    CBatchWorker(const CBatchWorker&) = delete;
    CBatchWorker& operator=(const CBatchWorker&) = delete;

    // Hands the thread pItem, starting it first when needed. False when no
    // thread could be started: the item is then untouched.
    bool Run(CWorkItem* pItem)
    {
        if (!m_pBox && !Start())
            return false;
        {
            CScopedLock lock(g_csWork);
            m_pBox->pItem = pItem;
        }
        ::SetEvent(m_pBox->hPosted);
        return true;
    }

    // Only once the last item is done.
    void Stop()
    {
        if (!m_pBox)
            return;
        {
            CScopedLock lock(g_csWork);
            m_pBox->bQuit = true;
        }
        ::SetEvent(m_pBox->hPosted);
        m_pBox.reset();
    }

private:
    bool Start()
    {
        auto pBox = std::make_shared<CWorkerMailbox>();
        if (!pBox->hPosted)
            return false;
        auto* pParam = new std::shared_ptr<CWorkerMailbox>(pBox);
        CWinThread* pThread =
            AfxBeginThread(BatchWorkerProc, pParam, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED, nullptr);
        if (pThread && pThread->ResumeThread() == DWORD(-1)) {
            delete pThread;  // never ran, so it cannot delete itself
            pThread = nullptr;
        }
        if (!pThread) {
            delete pParam;
            return false;
        }
        m_pBox = pBox;
        return true;
    }

    std::shared_ptr<CWorkerMailbox> m_pBox;
};

// True when the display may be brought up to date now.
bool DisplayDue(BatchState& st)
{
    const DWORD dwNow = ::GetTickCount();
    if (st.bShown && dwNow - st.dwShown < kDisplayMs)
        return false;
    st.bShown = true;
    st.dwShown = dwNow;
    return true;
}

void ShowFile(BatchState& st, const CString& strFile, int nIndex, int nCount)
{
    CString strCount;
    strCount.Format("Processing file %d of %d", nIndex + 1, nCount);
    st.pBusy->SetCountText(strCount);
    st.pBusy->SetPathText(strFile);
    st.pBusy->SetTotalPos(nIndex + 1);
    st.pBusy->SetFilePos(0);
}

// Waits, pumping, until the worker is done; true when the batch is to end
// (Cancel pressed, or the host ended it).
bool WaitForWorker(CWorkItem& item, BatchState& st)
{
    CRunningWorker running(item, st.hDone);
    int nLastPercent = -1;
    bool bStop = false;
    for (;;) {
        bStop = bStop || ReadBusyCancel(st) || HostGone(st);
        if (bStop)
            LockedSet(item.m_bCancel, 1);
        int bDone = LockedGet(item.m_bDone);
        int nPercent = LockedGet(item.m_nPercent);
        if (nPercent != nLastPercent && DisplayDue(st)) {
            st.pBusy->SetFilePos(nPercent);
            nLastPercent = nPercent;
        }
        if (bDone)
            break;
        PumpPending(st);
        const DWORD nHandles = st.hDone ? 1 : 0;
        ::MsgWaitForMultipleObjects(nHandles, &st.hDone, FALSE, kProgressMs, QS_ALLINPUT);
    }
    running.Finished();
    // A Cancel pressed during the last pump still means "no further file".
    PumpPending(st);
    return bStop || ReadBusyCancel(st) || HostGone(st);
}

// False when the batch is to end: the user chose Cancel, or the host ended
// the batch while the message was up.
bool ReportResult(CWorkItem& item, const CString& strFile, BatchState& st)
{
    int nResult = LockedGet(item.m_nResult);
    if (nResult == WR_OK) {
        ++st.summary.nSucceeded;
        return true;
    }
    AddFailed(st.summary, strFile);
    st.pBusy->ShowWindow(SW_HIDE);
    // A write failure names the path that could not be created, which for a
    // decryption is the one the decrypt routine chose, not the source.
    CString strPath = nResult == WR_WRITE_ERROR ? LockedGet(item.m_strDest) : strFile;
    // An authenticated container's reader says exactly what went wrong.
    const CV2Fault fault = LockedGet(item.m_v2Fault);
    // And a damaged legacy one may have left the part before the damage.
    const CString strKept = FormatKeptNote(LockedGet(item.m_nKept), LockedGet(item.m_strDest));
    const CString strText = fault.nKind != V2_FAULT_NONE ? FormatFaultMessageV2(fault, strFile, true)
                                                        : FormatResultMessage(nResult, strPath, true, strKept);
    if (AfxMessageBox(strText, MB_OKCANCEL, 0) == IDCANCEL)
        return false;
    if (HostEnded(st))
        return false;
    st.pBusy->ShowWindow(SW_SHOW);
    return true;
}

// The file's work, waited for; false when the batch is to end.
bool RunItemOf(BatchState& st, CBatchWorker& worker, const CString& strFile, CWorkItem& item)
{
    item.m_strSource = strFile;
    item.m_strDest = st.bEncrypt ? MakeEncryptedName(strFile) : strFile;
    item.m_strPassword = st.strPassword;
    item.m_bEncrypt = st.bEncrypt;
    item.m_nEncType = st.nEncType;
    // The method chosen is tried first; any legacy method opens its container.
    item.m_bFirstGuess = !st.bEncrypt;
    item.m_hDoneEvent = st.hDone;
    if (st.hDone)
        ::ResetEvent(st.hDone);  // a signal of the previous file seen by polling
    if (!worker.Run(&item))
        return false;
    if (!WaitForWorker(item, st))
        return true;
    // Stopped; but a file the worker finished before it saw the request is
    // there, and the summary counts it.
    if (LockedGet(item.m_nKept) == KEPT_WHOLE)
        ++st.summary.nSucceeded;
    return false;
}

// One file; false when the batch is to end. strFile is a copy: nothing the
// pump runs can free it. A password that opens nothing brings the settings
// back for the same file at once, as often as the user likes; Cancel there
// skips the file.
bool ProcessFile(BatchState& st, CBatchWorker& worker, const CString strFile, int nIndex, int nCount)
{
    const bool bAsk = !st.bBatch;
    if (bAsk && !AskSettings(st, strFile))
        return false;
    if (bAsk || DisplayDue(st))
        ShowFile(st, strFile, nIndex, nCount);
    // Messages are pumped while the worker runs; each pump is a round trip to
    // the window server, which for a small file costs more than its work.
    if (HostGone(st))
        return false;
    for (;;) {
        CWorkItem item;
        if (!RunItemOf(st, worker, strFile, item))
            return false;
        if (!LockedGet(item.m_bPasswordRefused))
            return ReportResult(item, strFile, st);
        if (!AskSettings(st, strFile, FormatRetryNote(LockedGet(item.m_v2Fault)))) {
            if (HostEnded(st))
                return false;
            AddSkipped(st.summary, strFile);
            st.pBusy->ShowWindow(SW_SHOW);
            return true;
        }
        ShowFile(st, strFile, nIndex, nCount);
    }
}

// One message for a batch of several files that did not all go well. Not
// when the host has ended the batch: nobody is there to read it.
void TellSummary(BatchState& st, int nCount)
{
    CBatchSummary& summary = st.summary;
    if (nCount < 2 || summary.nFailed + summary.nSkipped == 0 || HostEnded(st))
        return;
    summary.nNotReached = nCount - (summary.nSucceeded + summary.nFailed + summary.nSkipped);
    st.pBusy->ShowWindow(SW_HIDE);
    AfxMessageBox(FormatBatchSummary(summary), MB_OK);
}

void RunFiles(BatchState& st, const CStringArray& files)
{
    const int nCount = files.GetSize();
    try {
        CBatchWorker worker;
        for (int i = 0; i < nCount; ++i) {
            if (!ProcessFile(st, worker, files[i], i, nCount))
                break;
        }
        worker.Stop();
        TellSummary(st, nCount);
    } catch (const std::bad_alloc&) {
        AfxMessageBox("Out of memory.", MB_OK);
    } catch (...) {
        AfxMessageBox("An unexpected error ended the operation.", MB_OK);
    }
}

std::unique_ptr<CBusyDlg> NewBusyDialog()
{
    try {
        return std::unique_ptr<CBusyDlg>(new CBusyDlg);
    } catch (const std::bad_alloc&) {
        AfxMessageBox("Out of memory.", MB_OK);
        return nullptr;
    }
}

void EndBatch(BatchState& st)
{
    if (st.pBusy && st.pBusy->m_hWnd) {
        st.pBusy->ShowWindow(SW_HIDE);
        st.pBusy->DestroyWindow();
    }
    if (st.hwndOwner && ::IsWindow(st.hwndOwner))
        ::PostMessageA(st.hwndOwner, WM_ENABLE, TRUE, 0);
    CWnd::DeleteTempMap();
    // The batch's master keys are not kept for the next one.
    MasterKeys().Clear();
}

}  // namespace

void RunBatch(CStringArray& files, bool bEncrypt, HWND hwndOwner)
{
    if (t_bBatchRunning) {
        AfxMessageBox(kAlreadyRunning, MB_OK);
        return;
    }
    CBatchRunningFlag running;
    if (hwndOwner)
        ::PostMessageA(hwndOwner, WM_ENABLE, FALSE, 0);
    BatchState st;
    std::unique_ptr<CBusyDlg> pBusy;
    CEventHandle done;
    try {
        st.bEncrypt = bEncrypt;
        st.hwndOwner = hwndOwner;
        st.hDone = done.Get();
        CWnd* pParent = hwndOwner ? CWnd::FromHandle(hwndOwner) : nullptr;
        pBusy = NewBusyDialog();
        st.pBusy = pBusy.get();
        if (pBusy) {
            st.bBusyWindow = pBusy->Create(pParent) && pBusy->m_hWnd;
            if (st.bBusyWindow)
                pBusy->ShowWindow(SW_SHOW);
            // The total counts every file the selected folders hold.
            if (GatherFiles(st, files)) {
                pBusy->SetTotal(files.GetSize() + 1);
                RunFiles(st, files);
            }
        }
    } catch (const std::bad_alloc&) {
        AfxMessageBox("Out of memory.", MB_OK);
    } catch (...) {
        AfxMessageBox("An unexpected error ended the operation.", MB_OK);
    }
    EndBatch(st);
    pBusy.reset();
    // Handed back once, now that nothing of the batch waits any more.
    if (st.bQuit)
        ::PostQuitMessage(st.nQuitCode);
}
