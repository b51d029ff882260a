// Plays Explorer and the user against the real Kestrin.dll: a selection of
// real files handed to the handler as the shell's data object, commands
// invoked on this (the "shell") thread, and a second thread that finds the
// dialogs by caption and types, ticks and clicks as a user would.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <atomic>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace ui {

const char kSettingsCaption[] = "Kestrin Settings";
const char kBusyCaption[] = "Kestrin is busy...";
const char kAboutCaption[] = "About Kestrin";
const char kMessageCaption[] = "Kestrin";

// A step the user could not take in time (a window that never came).
struct Timeout : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Ends the process when a test hangs, so CI fails instead of waiting.
void StartWatchdog(DWORD dwSeconds);

// The DLL, loaded once; handlers come from its class factory.
class CKestrin {
public:
    static CKestrin& Get();
    HMODULE Module() const { return m_hModule; }
    // A fresh handler initialised with the shell's data object for paths.
    IContextMenu* CreateMenuFor(const std::vector<std::string>& paths);

private:
    CKestrin();
    HMODULE m_hModule = nullptr;
    IClassFactory* m_pFactory = nullptr;
};

// The shell's data object for real files (CF_HDROP as Explorer offers it);
// for a path Wine's shell cannot parse (deeper than MAX_PATH), an object
// offering the same CF_HDROP list, as for items of several folders (a
// search's results).
IDataObject* MakeDataObject(const std::vector<std::string>& paths);

// Hands a new handler the selection as the shell does and returns its
// context menu; takes over (releases) pInit. Throws what it could not do.
IContextMenu* TakeSelection(IShellExtInit* pInit, const std::vector<std::string>& paths);

// What the shell's owner window received while a command ran.
struct OwnerLog {
    std::vector<WPARAM> enables;  // wParam of each WM_ENABLE, in order
};

// A top-level window of the shell thread that records WM_ENABLE: hidden, or
// shown and active as the shell's folder window is when a command runs (the
// dialogs and message boxes are then owned by it).
class COwnerWindow {
public:
    explicit COwnerWindow(bool bShown = false);
    ~COwnerWindow();
    HWND Handle() const { return m_hWnd; }
    // Takes the posted messages that are still queued (nothing once the
    // window has been destroyed).
    OwnerLog Collect();
    // Has fn run on the window's (the shell's) thread when its pump
    // dispatches the posted request, as the shell's own code would run.
    static void PostCall(HWND hWnd, std::function<void()> fn);

private:
    HWND m_hWnd;
};

// Runs a user script on a second thread while the calling thread invokes a
// command. A script that fails (Timeout or assertion) is recorded, and the
// thread then closes whatever Kestrin window it finds until the command has
// returned, so a failure never hangs the test.
class CUser {
public:
    explicit CUser(std::function<void(CUser&)> script);
    ~CUser();
    // Invokes offset (0 encrypt, 1 decrypt) on the menu, owner window given.
    HRESULT Invoke(IContextMenu* pMenu, UINT nOffset, HWND hwndOwner);
    // Error text of the script, empty when it ran to its end.
    std::string Failure() const { return m_strFailure; }
    DWORD ShellThreadId() const { return m_dwShellThread; }
    // How long the command may run on after the script's last step before
    // the user cancels every window (30 s unless set).
    void SetPatience(DWORD dwMs) { m_dwPatienceMs = dwMs; }
    // GetTickCount() when InvokeCommand returned.
    DWORD ReturnedAt() const { return m_dwReturnedAt; }

    // The user's steps. Each waits at most dwTimeoutMs for its window.
    HWND WaitWindow(const char* pszCaption, DWORD dwTimeoutMs = 20000, const char* pszClass = "#32770");
    void WaitGone(HWND hWnd, DWORD dwTimeoutMs = 20000);
    HWND WaitMessageBox(DWORD dwTimeoutMs = 20000) { return WaitWindow(kMessageCaption, dwTimeoutMs); }
    // True when a window of that caption becomes visible within the time.
    bool Appears(const char* pszCaption, DWORD dwTimeoutMs);

private:
    void Run();
    void Rescue();

    std::function<void(CUser&)> m_script;
    std::atomic<bool> m_bInvokeDone{false};
    std::atomic<bool> m_bStarted{false};
    std::string m_strFailure;
    DWORD m_dwShellThread = 0;
    DWORD m_dwPatienceMs = 30000;
    DWORD m_dwReturnedAt = 0;
    std::thread m_thread;
};

// Control access, all by control id, from the user's thread.
void TypeText(HWND hDlg, int nId, const char* pszText);
std::string ControlText(HWND hDlg, int nId);
std::string MessageText(HWND hBox);  // the static 0xFFFF of a message box
void SelectItem(HWND hDlg, int nId, int nIndex);
int SelectedItem(HWND hDlg, int nId);
void SetChecked(HWND hDlg, int nId, bool bChecked);
bool IsChecked(HWND hDlg, int nId);
void Press(HWND hDlg, int nId);  // a button's click, posted
bool IsEnabled(HWND hDlg, int nId);
// The control holding the keyboard focus on the dialog's thread.
HWND FocusOf(HWND hDlg);
// The focus once it is on hExpected, or after dwTimeoutMs whatever holds it:
// the dialog's thread moves it a moment after a message box has gone.
HWND FocusSettlesOn(HWND hDlg, HWND hExpected, DWORD dwTimeoutMs = 3000);
void Pause(DWORD dwMs);

// The usual answer to the settings dialog; the dialog must go away.
void AnswerSettings(CUser& user, const char* pszPassword, int nEncType, bool bBatch, bool bConfirm = true);

// Files, by UTF-8 path of any length.
std::string TempFolder(const char* pszTag);  // a fresh empty folder
void MakeFolder(const std::string& path);
void RemoveFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& data);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
std::vector<std::string> ListFolder(const std::string& folder);  // file names, sorted
void RemoveFolder(const std::string& folder);
std::string SampleData(size_t nSize, unsigned nSeed);  // text and noise
// A symbolic link made on the Unix side (Wine can make neither Windows links
// nor junctions): Wine shows a link to a folder as a folder with the
// reparse-point attribute, and a link to a file as a plain file. target: a
// Windows path, or a Unix one relative to the link's folder. Wine's own
// calls delete what a link leads to: only RemoveUnixLink removes the link
// (RemoveFolder leaves links to folders alone).
void MakeUnixLink(const std::string& target, const std::string& link);
void RemoveUnixLink(const std::string& link);

// The persisted settings under HKCU.
void ClearSettings();
bool ReadSetting(const char* pszName, DWORD& dwValue);
void WriteSetting(const char* pszName, DWORD dwValue);

}  // namespace ui
