// Plays Explorer's part for the demo: the registered Kestrin handler is
// created as the shell creates it, shown the selection, asked for its menu,
// and invoked, while a second thread answers the dialogs as a user would.
//
//   kestrin_demo roundtrip FOLDER [--slow]   encrypt every file, decrypt the
//                                            containers, compare with the originals
//   kestrin_demo shots FOLDER SHOTDIR        stop at the context menu, the settings
//                                            dialog, the About box, the busy dialog,
//                                            the settings for a long Unicode path, the
//                                            settings asking again after a wrong password
//                                            and a batch's summary; at each writes
//                                            SHOTDIR\ready-NAME.txt ("x y w h") and waits
//                                            for SHOTDIR\done-NAME.txt
//   kestrin_demo menu FOLDER SHOTDIR NAME    the context menu alone, as picture NAME
//                                            (the script runs it again at 200 %)
//   kestrin_demo batch FOLDER [decrypt]      encrypt (or decrypt) every file of FOLDER in
//                                            one batch (settings for all) and print how
//                                            long InvokeCommand took (bench/batch_wine.sh)
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "shellext/ShellExtGuid.h"
#include "tests/win_ui/UiDriver.h"

using namespace ui;

namespace {

const char kPassword[] = "Tallow & Mere 42";
const int kBlowfish = 3, kAuthenticated = 4;
bool g_bSlow = false;

IContextMenu* CreateHandler(const std::vector<std::string>& paths)
{
    IShellExtInit* pInit = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_ShellExt, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit,
                                  reinterpret_cast<void**>(&pInit));
    if (FAILED(hr))
        throw std::runtime_error("Kestrin is not registered (CoCreateInstance failed)");
    return TakeSelection(pInit, paths);
}

std::vector<std::string> FilesIn(const std::string& folder)
{
    std::vector<std::string> paths;
    for (const std::string& name : ListFolder(folder)) {
        std::string p = folder + "\\" + name;
        if (!(GetFileAttributesA(p.c_str()) & FILE_ATTRIBUTE_DIRECTORY))
            paths.push_back(p);
    }
    return paths;
}

std::string NameOf(const std::string& path) { return path.substr(path.find_last_of('\\') + 1); }

unsigned long long SizeOf(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA fa;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &fa))
        return 0;
    return (static_cast<unsigned long long>(fa.nFileSizeHigh) << 32) | fa.nFileSizeLow;
}

// The shell's menu for the selection, with the handler's items in it.
HMENU BuildShellMenu(IContextMenu* pMenu, UINT idFirst)
{
    HMENU hMenu = CreatePopupMenu();
    AppendMenuA(hMenu, MF_STRING, 1, "&Open");
    AppendMenuA(hMenu, MF_STRING, 2, "&Edit");
    AppendMenuA(hMenu, MF_STRING, 3, "&Print");
    AppendMenuA(hMenu, MF_SEPARATOR, 0, nullptr);
    pMenu->QueryContextMenu(hMenu, 4, idFirst, idFirst + 100, CMF_NORMAL);
    AppendMenuA(hMenu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(hMenu, MF_STRING, 5, "P&roperties");
    return hMenu;
}

void PrintMenu(IContextMenu* pMenu, HMENU hMenu, UINT idFirst, const std::string& indent)
{
    for (int i = 0; i < GetMenuItemCount(hMenu); ++i) {
        char raw[128] = {}, text[128] = {};
        GetMenuStringA(hMenu, UINT(i), raw, sizeof raw, MF_BYPOSITION);
        for (char *s = raw, *d = text; *s; ++s)  // without the mnemonic markers
            if (*s != '&')
                *d++ = *s;
        HMENU hSub = GetSubMenu(hMenu, i);
        UINT id = GetMenuItemID(hMenu, i);
        if (hSub) {
            std::printf("%s%s >\n", indent.c_str(), text);
            PrintMenu(pMenu, hSub, idFirst, indent + "    ");
        } else if (text[0] && id >= idFirst) {
            char verb[64] = {}, help[128] = {};
            pMenu->GetCommandString(id - idFirst, GCS_VERBA, nullptr, verb, sizeof verb);
            pMenu->GetCommandString(id - idFirst, GCS_HELPTEXTA, nullptr, help, sizeof help);
            std::printf("%s%-24s verb \"%s\", help \"%s\"\n", indent.c_str(), text, verb, help);
        } else if (text[0]) {
            std::printf("%s%s\n", indent.c_str(), text);
        } else {
            std::printf("%s--------\n", indent.c_str());
        }
    }
}

// Types the way a person does when someone watches; at once otherwise.
void Type(HWND hDlg, int nId, const char* pszText)
{
    if (!g_bSlow) {
        TypeText(hDlg, nId, pszText);
        return;
    }
    std::string typed;
    for (const char* p = pszText; *p; ++p) {
        typed += *p;
        TypeText(hDlg, nId, typed.c_str());
        Pause(60);
    }
}

void Answer(CUser& u, bool bEncrypt, int nMethod)
{
    HWND h = u.WaitWindow(kSettingsCaption);
    std::printf("   the settings dialog asks about %s\n", ControlText(h, 1003).c_str());
    Type(h, 1001, kPassword);
    if (bEncrypt)
        Type(h, 1006, kPassword);
    SelectItem(h, 1004, nMethod);
    SetChecked(h, 1002, true);  // "Use these settings for all files in this batch"
    if (g_bSlow)
        Pause(800);
    Press(h, IDOK);
    u.WaitGone(h);
}

bool InvokeWithUser(IContextMenu* pMenu, UINT nOffset, std::function<void(CUser&)> script)
{
    CUser user(std::move(script));
    user.SetPatience(300000);  // a large selection takes its time
    HRESULT hr = user.Invoke(pMenu, nOffset, nullptr);
    if (!user.Failure().empty())
        std::printf("   the user could not go on: %s\n", user.Failure().c_str());
    return SUCCEEDED(hr) && user.Failure().empty();
}

void PrintListing(const std::string& folder, const std::vector<std::string>& before)
{
    for (const std::string& p : FilesIn(folder)) {
        bool bNew = std::find(before.begin(), before.end(), p) == before.end();
        std::string head = ReadFile(p).substr(0, 4);
        bool bContainer = bNew && (head == "VXJ1" || head == "VXJ2");
        std::printf("   %s %-28s %10llu bytes%s\n", bNew ? "+" : " ", NameOf(p).c_str(), SizeOf(p),
                    bContainer ? ("   (container, magic " + head + ")").c_str() : "");
    }
}

int RoundTrip(const std::string& folder)
{
    const std::vector<std::string> originals = FilesIn(folder);
    if (originals.empty())
        throw std::runtime_error("no files in " + folder);
    std::printf("== selection: %zu files in %s\n", originals.size(), folder.c_str());

    IContextMenu* pMenu = CreateHandler(originals);
    const UINT idFirst = 100;
    HMENU hMenu = BuildShellMenu(pMenu, idFirst);
    std::printf("== context menu of the selection\n");
    PrintMenu(pMenu, hMenu, idFirst, "   ");
    DestroyMenu(hMenu);

    std::printf("== \"Encrypt with Kestrin\" (AES-256-GCM (authenticated), password typed by the user thread)\n");
    bool ok = InvokeWithUser(pMenu, 0, [](CUser& u) { Answer(u, true, kAuthenticated); });
    pMenu->Release();
    std::printf("== written by \"Encrypt with Kestrin\" (+ new)\n");
    PrintListing(folder, originals);

    // The originals step aside so that decryption restores their own names.
    const std::string aside = folder + "\\originals";
    CreateDirectoryA(aside.c_str(), nullptr);
    for (const std::string& p : originals)
        MoveFileA(p.c_str(), (aside + "\\" + NameOf(p)).c_str());
    std::vector<std::string> containers = FilesIn(folder);

    std::printf("== \"Decrypt with Kestrin\" on the %zu containers\n", containers.size());
    pMenu = CreateHandler(containers);
    ok = InvokeWithUser(pMenu, 1, [](CUser& u) { Answer(u, false, kAuthenticated); }) && ok;
    pMenu->Release();
    std::printf("== written by \"Decrypt with Kestrin\" (+ new)\n");
    PrintListing(folder, containers);

    std::printf("== restored files against the originals\n");
    int nSame = 0;
    for (const std::string& p : originals) {
        bool bSame = Exists(p) && ReadFile(p) == ReadFile(aside + "\\" + NameOf(p));
        nSame += bSame;
        std::printf("   %-28s %s\n", NameOf(p).c_str(), bSame ? "identical" : "DIFFERENT or missing");
    }
    ok = ok && nSame == int(originals.size());
    std::printf("== %s: %d of %zu files restored byte for byte\n", ok ? "round trip OK" : "round trip FAILED",
                nSame, originals.size());
    return ok ? 0 : 1;
}

double Seconds(const FILETIME& f) { return double((ULONGLONG(f.dwHighDateTime) << 32) | f.dwLowDateTime) / 1e7; }

double ProcessCpuSeconds()
{
    FILETIME c, e, k, u;
    GetProcessTimes(GetCurrentProcess(), &c, &e, &k, &u);
    return Seconds(k) + Seconds(u);
}

double ThreadCpuSeconds()
{
    FILETIME c, e, k, u;
    GetThreadTimes(GetCurrentThread(), &c, &e, &k, &u);
    return Seconds(k) + Seconds(u);
}

// One command over the whole folder: the time from InvokeCommand to its
// return, and the CPU time the process spent meanwhile (the wall time
// follows the machine's load; Wine's server process is not counted).
int TimeBatch(const std::string& folder, bool bDecrypt)
{
    const std::vector<std::string> files = FilesIn(folder);
    if (files.empty())
        throw std::runtime_error("no files in " + folder);
    IContextMenu* pMenu = CreateHandler(files);
    LARGE_INTEGER freq, t0, t1;
    QueryPerformanceFrequency(&freq);
    const double cpu0 = ProcessCpuSeconds(), shell0 = ThreadCpuSeconds();
    QueryPerformanceCounter(&t0);
    bool ok = InvokeWithUser(pMenu, bDecrypt ? 1 : 0, [bDecrypt](CUser& u) { Answer(u, !bDecrypt, kBlowfish); });
    QueryPerformanceCounter(&t1);
    const double cpu = ProcessCpuSeconds() - cpu0, shell = ThreadCpuSeconds() - shell0;
    pMenu->Release();
    const size_t nWritten = FilesIn(folder).size() - files.size();
    std::printf("batch of %zu files: %.3f s wall, %.3f s CPU of this process, %.3f s of it the shell thread's"
                " (%zu files written)\n",
                files.size(), double(t1.QuadPart - t0.QuadPart) / double(freq.QuadPart), cpu, shell, nWritten);
    return ok && nWritten == files.size() ? 0 : 1;
}

// ---------------------------------------------------------------- screenshots

std::string g_shotDir;
std::string g_strSelection;  // what the stand-in folder window says

RECT Union(RECT a, const RECT& b)
{
    UnionRect(&a, &a, &b);
    return a;
}

RECT WindowRect(HWND h)
{
    RECT rc{};
    GetWindowRect(h, &rc);
    return rc;
}

// Lets the script take its picture of rc, then returns.
void Shot(const char* pszName, const RECT& rc)
{
    const int kMargin = 0;
    std::string ready = g_shotDir + "\\ready-" + pszName + ".txt", done = g_shotDir + "\\done-" + pszName + ".txt";
    Pause(400);  // the last paint
    WriteFile(ready, std::to_string(std::max(0L, rc.left - kMargin)) + " " +
                         std::to_string(std::max(0L, rc.top - kMargin)) + " " +
                         std::to_string(rc.right - rc.left + 2 * kMargin) + " " +
                         std::to_string(rc.bottom - rc.top + 2 * kMargin) + "\n");
    for (DWORD t = GetTickCount(); !Exists(done); Pause(50)) {
        if (GetTickCount() - t > 60000)
            throw Timeout(std::string("no picture taken of ") + pszName);
    }
    std::printf("   picture: %s\n", pszName);
}

BOOL CALLBACK CollectMenus(HWND h, LPARAM lp)
{
    char cls[32] = {};
    GetClassNameA(h, cls, sizeof cls);
    if (IsWindowVisible(h) && std::strcmp(cls, "#32768") == 0)
        reinterpret_cast<std::vector<HWND>*>(lp)->push_back(h);
    return TRUE;
}

std::vector<HWND> VisibleMenus()
{
    std::vector<HWND> menus;
    EnumWindows(CollectMenus, reinterpret_cast<LPARAM>(&menus));
    return menus;
}

// n pixels at 100 %, at the DPI this program runs at.
int Scaled(int n)
{
    HDC hdc = GetDC(nullptr);
    const int nDpi = GetDeviceCaps(hdc, LOGPIXELSY);
    ReleaseDC(nullptr, hdc);
    return MulDiv(n, nDpi, 96);
}

LRESULT CALLBACK DemoWndProc(HWND h, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC hdc = BeginPaint(h, &ps);
        RECT rc;
        GetClientRect(h, &rc);
        FillRect(hdc, &rc, GetSysColorBrush(COLOR_WINDOW));
        SelectObject(hdc, GetStockObject(DEFAULT_GUI_FONT));
        TextOutA(hdc, Scaled(12), Scaled(12), g_strSelection.c_str(), int(g_strSelection.size()));
        EndPaint(h, &ps);
        return 0;
    }
    return DefWindowProcA(h, msg, wp, lp);
}

// The context menu as the shell shows it, the Kestrin submenu open.
void ShotMenu(const std::vector<std::string>& files, const char* pszName)
{
    g_strSelection = "Selected: ";
    for (const std::string& f : files)
        g_strSelection += (f == files.front() ? "" : ", ") + NameOf(f);
    IContextMenu* pMenu = CreateHandler(files);
    WNDCLASSA wc{};
    wc.lpfnWndProc = DemoWndProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.lpszClassName = "KestrinDemoFolder";
    RegisterClassA(&wc);
    HWND hWnd = CreateWindowA("KestrinDemoFolder", "Kestrin sample - Explorer", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                              40, 40, Scaled(560), Scaled(300), nullptr, nullptr, wc.hInstance, nullptr);
    UpdateWindow(hWnd);
    SetForegroundWindow(hWnd);
    HMENU hMenu = BuildShellMenu(pMenu, 100);
    std::thread user([hWnd, pszName] {
        for (DWORD t = GetTickCount(); VisibleMenus().empty() && GetTickCount() - t < 10000;)
            Pause(20);
        std::vector<HWND> menus = VisibleMenus();
        if (menus.empty())
            return;
        for (int i = 0; i < 4; ++i) {  // Open, Edit, Print, Kestrin
            PostMessageA(menus[0], WM_KEYDOWN, VK_DOWN, 0);
            Pause(60);
        }
        PostMessageA(menus[0], WM_KEYDOWN, VK_RIGHT, 0);
        for (DWORD t = GetTickCount(); VisibleMenus().size() < 2 && GetTickCount() - t < 5000;)
            Pause(20);
        RECT rc = WindowRect(hWnd);
        for (HWND m : VisibleMenus())
            rc = Union(rc, WindowRect(m));
        try {
            Shot(pszName, rc);
        } catch (const std::exception& e) {
            std::printf("   %s\n", e.what());
        }
        PostMessageA(hWnd, WM_CANCELMODE, 0, 0);
    });
    TrackPopupMenu(hMenu, TPM_LEFTALIGN | TPM_TOPALIGN, 40 + Scaled(80), 40 + Scaled(70), 0, hWnd, nullptr);
    user.join();
    DestroyMenu(hMenu);
    DestroyWindow(hWnd);
    pMenu->Release();
}

// Settings, About and busy dialogs of one encrypt command.
void ShotDialogs(const std::vector<std::string>& files)
{
    IContextMenu* pMenu = CreateHandler(files);
    InvokeWithUser(pMenu, 0, [](CUser& u) {
        HWND h = u.WaitWindow(kSettingsCaption);
        Type(h, 1001, kPassword);
        Type(h, 1006, kPassword);
        SelectItem(h, 1004, kAuthenticated);
        SetChecked(h, 1002, true);
        Shot("settings", WindowRect(h));
        Press(h, 1005);
        HWND hAbout = u.WaitWindow(kAboutCaption);
        Shot("about", Union(WindowRect(h), WindowRect(hAbout)));
        PostMessageA(hAbout, WM_COMMAND, IDCANCEL, 0);
        u.WaitGone(hAbout);
        Press(h, IDOK);
        u.WaitGone(h);
        HWND hBusy = u.WaitWindow(kBusyCaption);
        for (DWORD t = GetTickCount(); SendMessageA(GetDlgItem(hBusy, 1001), PBM_GETPOS, 0, 0) < 30;) {
            if (GetTickCount() - t > 60000)
                throw Timeout("the file bar did not move");
            Pause(20);
        }
        Shot("busy", WindowRect(hBusy));
        Press(hBusy, IDCANCEL);
    });
    pMenu->Release();
}

// The settings dialog for a file deep in folders named in several scripts:
// the path is cut in the middle and its file name stays readable.
void ShotLongUnicodePath(const std::string& folder)
{
    std::string deep = folder;
    for (const char* psz : {"\xCE\x88\xCE\xB3\xCE\xB3\xCF\x81\xCE\xB1\xCF\x86\xCE\xB1 2026",
                            "\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB5\xD0\xBA\xD1\x82\xD1\x8B",
                            "\xE5\xB9\xB4\xE5\xBA\xA6\xE5\xA0\xB1\xE5\x91\x8A Quarterly reports"}) {
        deep += std::string("\\") + psz;
        MakeFolder(deep);
    }
    const std::string path = deep + "\\R\xC3\xA9sum\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt";
    WriteFile(path, "a file with a long Unicode path\n");
    IContextMenu* pMenu = CreateHandler({path});
    InvokeWithUser(pMenu, 0, [](CUser& u) {
        HWND h = u.WaitWindow(kSettingsCaption);
        Shot("settings-unicode", WindowRect(h));
        Press(h, IDCANCEL);
        u.WaitGone(h);
    });
    pMenu->Release();
    RemoveFolder(folder + "\\" + "\xCE\x88\xCE\xB3\xCE\xB3\xCF\x81\xCE\xB1\xCF\x86\xCE\xB1 2026");
}

// A folder of attachments decrypted with a password typed wrong: the
// settings come back for the file at once. Of the rest, one container was
// altered in transit (its failure is reported) and one was made with
// another password (the user gives up on it when asked again); the batch
// ends with its summary.
void ShotRetryAndSummary(const std::string& folder)
{
    const std::string mail = folder + "\\Mail attachments";
    MakeFolder(mail);
    WriteFile(mail + "\\invoice.txt", SampleData(30000, 11));
    WriteFile(mail + "\\minutes.txt", SampleData(12000, 12));
    IContextMenu* pMenu = CreateHandler({mail});  // the folder stands for its files
    InvokeWithUser(pMenu, 0, [](CUser& u) { Answer(u, true, kAuthenticated); });
    pMenu->Release();
    DeleteFileA((mail + "\\invoice.txt").c_str());
    DeleteFileA((mail + "\\minutes.txt").c_str());
    std::string altered = ReadFile(mail + "\\invoice._xt");
    if (altered.size() > 40)
        altered[altered.size() - 20] ^= 0x55;
    WriteFile(mail + "\\invoice copy._xt", altered);
    WriteFile(mail + "\\archive 2019._xt", "VXJ1" + SampleData(600, 13));

    pMenu = CreateHandler({mail});
    InvokeWithUser(pMenu, 1, [](CUser& u) {
        HWND h = u.WaitWindow(kSettingsCaption);
        Type(h, 1001, "Tallow & Mere 24");  // one key off
        SelectItem(h, 1004, kAuthenticated);
        SetChecked(h, 1002, true);
        Press(h, IDOK);
        u.WaitGone(h);
        bool bShotRetry = false;
        for (DWORD t = GetTickCount(); GetTickCount() - t < 300000;) {
            if (u.Appears(kSettingsCaption, 50)) {  // asked again
                h = u.WaitWindow(kSettingsCaption);
                if (!bShotRetry) {
                    bShotRetry = true;
                    Shot("settings-retry", WindowRect(h));
                }
                if (ControlText(h, 1003).find("archive") != std::string::npos) {
                    Press(h, IDCANCEL);  // not worth another guess
                } else {
                    Type(h, 1001, kPassword);
                    Press(h, IDOK);
                }
                u.WaitGone(h);
            } else if (u.Appears(kMessageCaption, 50)) {
                HWND hBox = u.WaitMessageBox();
                const bool bSummary = MessageText(hBox).rfind("Kestrin processed", 0) == 0;
                std::printf("   message: %s\n", MessageText(hBox).c_str());
                if (bSummary)
                    Shot("summary", WindowRect(hBox));
                Press(hBox, IDOK);
                u.WaitGone(hBox);
                if (bSummary)
                    return;
            }
        }
        throw Timeout("no summary");
    });
    pMenu->Release();
    RemoveFolder(mail);
}

// A file large enough that the busy dialog stays up for a picture.
void MakeLargeFile(const std::string& path)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    std::string chunk = SampleData(1 << 20, 7);
    for (int i = 0; i < 160; ++i) {
        chunk[size_t(i)] ^= 0x5A;
        DWORD n = 0;
        ::WriteFile(h, chunk.data(), DWORD(chunk.size()), &n, nullptr);
    }
    CloseHandle(h);
}

int Shots(const std::string& folder)
{
    std::vector<std::string> files = FilesIn(folder);
    ShotMenu(files, "menu");
    const std::string large = folder + "\\video.mkv";
    MakeLargeFile(large);
    files = FilesIn(folder);
    ShotDialogs(files);
    DeleteFileA(large.c_str());
    ShotLongUnicodePath(folder);
    ShotRetryAndSummary(folder);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc < 3) {
        std::fprintf(stderr, "usage: kestrin_demo roundtrip FOLDER [--slow] | batch FOLDER | shots FOLDER SHOTDIR"
                             " | menu FOLDER SHOTDIR NAME\n");
        return 2;
    }
    StartWatchdog(600);
    OleInitialize(nullptr);
    const std::string mode = argv[1], folder = argv[2];
    try {
        if (mode == "roundtrip") {
            g_bSlow = argc > 3 && std::strcmp(argv[3], "--slow") == 0;
            return RoundTrip(folder);
        }
        if (mode == "batch")
            return TimeBatch(folder, argc > 3 && std::strcmp(argv[3], "decrypt") == 0);
        if (mode == "shots" && argc > 3) {
            g_bSlow = true;
            g_shotDir = argv[3];
            return Shots(folder);
        }
        if (mode == "menu" && argc > 4) {
            g_shotDir = argv[3];
            ShotMenu(FilesIn(folder), argv[4]);
            return 0;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kestrin_demo: %s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "kestrin_demo: unknown mode %s\n", mode.c_str());
    return 2;
}
