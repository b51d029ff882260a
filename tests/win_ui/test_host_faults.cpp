// What the host may do to a running batch: destroy the window that owns the
// dialogs, destroy the busy dialog, post WM_QUIT, deliver a second command
// through the batch's own pump, unload the module as soon as it may. Each
// must leave the process alive, the command returning promptly, the shell's
// thread idle and no broken container behind.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>

#include "shellext/ShellExtGuid.h"
#include "tests/common/WinePath.h"
#include "tests/win_ui/UiDriver.h"

using namespace ui;

namespace {

const UINT kEncrypt = 0, kDecrypt = 1;
const int kFileBar = 1001;
const char kAlreadyRunning[] = "Kestrin is already processing files.";

enum class Stage { kBusy, kSettings, kFailureMessage };
enum class Fault { kCloseOwner, kQuit, kSecondCommand, kDestroyBusy };

struct FaultCase {
    const char* name;
    Stage stage;
    Fault fault;
};

const FaultCase kFaults[] = {
    {"OwnerClosedDuringBusyDialog", Stage::kBusy, Fault::kCloseOwner},
    {"OwnerClosedDuringSettings", Stage::kSettings, Fault::kCloseOwner},
    {"OwnerClosedDuringFailureMessage", Stage::kFailureMessage, Fault::kCloseOwner},
    {"QuitPosted", Stage::kBusy, Fault::kQuit},
    {"SecondCommandThroughThePump", Stage::kBusy, Fault::kSecondCommand},
    {"BusyDialogDestroyed", Stage::kBusy, Fault::kDestroyBusy},
};

ULONGLONG ThreadCpuMs(HANDLE hThread)
{
    FILETIME c, e, k, u;
    GetThreadTimes(hThread, &c, &e, &k, &u);
    auto ms = [](const FILETIME& f) { return ((ULONGLONG(f.dwHighDateTime) << 32) | f.dwLowDateTime) / 10000; };
    return ms(k) + ms(u);
}

// Takes every WM_QUIT off this thread's queue; their exit codes.
std::vector<WPARAM> TakeQuits()
{
    std::vector<WPARAM> codes;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE))
        codes.push_back(msg.wParam);
    return codes;
}

class HostFault : public ::testing::TestWithParam<FaultCase> {
protected:
    void SetUp() override
    {
        StartWatchdog(180);
        ClearSettings();
        m_folder = TempFolder(GetParam().name);
    }
    void TearDown() override { RemoveFolder(m_folder); }
    std::string Path(const std::string& name) const { return m_folder + "\\" + name; }

    std::string m_folder;
};

// The user gets the batch to the stage where the fault strikes.
HWND ReachStage(CUser& u, Stage stage)
{
    if (stage == Stage::kSettings)
        return u.WaitWindow(kSettingsCaption);
    AnswerSettings(u, "pass word", 3, true, stage == Stage::kBusy);
    if (stage == Stage::kFailureMessage)
        return u.WaitMessageBox();
    HWND hBusy = u.WaitWindow(kBusyCaption);
    for (DWORD t = GetTickCount(); SendMessageA(GetDlgItem(hBusy, kFileBar), PBM_GETPOS, 0, 0) < 1; Pause(10)) {
        if (GetTickCount() - t > 30000)
            throw Timeout("the file bar never moved");
    }
    return hBusy;
}

TEST_P(HostFault, EndsTheBatchPromptlyAndSafely)
{
    const FaultCase& c = GetParam();
    std::vector<std::string> names;
    if (c.stage == Stage::kFailureMessage) {
        names = {"a._xt", "z._xt"};  // neither is a container: each fails
        WriteFile(Path("a._xt"), "not a container");
        WriteFile(Path("z._xt"), "not a container either");
    } else {
        names = {"a.txt", "z.bin"};  // the large one comes first
        WriteFile(Path("a.txt"), SampleData(1000, 1));
        WriteFile(Path("z.bin"), SampleData(c.stage == Stage::kBusy ? 64u << 20 : 1000, 2));
    }
    std::vector<std::string> paths;
    for (const std::string& n : names)
        paths.push_back(Path(n));
    const std::vector<std::string> before = ListFolder(m_folder);

    IContextMenu* pMenu = CKestrin::Get().CreateMenuFor(paths);
    IContextMenu* pSecond = CKestrin::Get().CreateMenuFor(paths);
    COwnerWindow owner(true);
    const HWND hOwner = owner.Handle();
    const DWORD dwShellThread = GetCurrentThreadId();
    HRESULT hrSecond = E_FAIL;
    std::atomic<DWORD> dwFaultAt{0};

    CUser user([&](CUser& u) {
        HWND hStage = ReachStage(u, c.stage);
        switch (c.fault) {
        case Fault::kCloseOwner:
            dwFaultAt = GetTickCount();
            PostMessageA(hOwner, WM_CLOSE, 0, 0);
            break;
        case Fault::kQuit:
            dwFaultAt = GetTickCount();
            PostThreadMessageA(dwShellThread, WM_QUIT, 7, 0);
            break;
        case Fault::kDestroyBusy:
            dwFaultAt = GetTickCount();
            COwnerWindow::PostCall(hOwner, [hStage] { DestroyWindow(hStage); });
            break;
        case Fault::kSecondCommand: {
            COwnerWindow::PostCall(hOwner, [&] {
                CMINVOKECOMMANDINFO ci{};
                ci.cbSize = sizeof ci;
                ci.hwnd = hOwner;
                ci.lpVerb = MAKEINTRESOURCEA(kEncrypt);
                hrSecond = pSecond->InvokeCommand(&ci);
            });
            HWND hBox = u.WaitMessageBox();
            EXPECT_EQ(kAlreadyRunning, MessageText(hBox));
            Press(hBox, IDOK);
            u.WaitGone(hBox);
            // The first batch goes on; its user stops it.
            EXPECT_TRUE(IsWindowVisible(hStage));
            dwFaultAt = GetTickCount();
            Press(hStage, IDCANCEL);
            break;
        }
        }
    });
    const ULONGLONG cpu0 = ThreadCpuMs(GetCurrentThread());
    const DWORD t0 = GetTickCount();
    HRESULT hr = user.Invoke(pMenu, c.stage == Stage::kFailureMessage ? kDecrypt : kEncrypt, hOwner);
    const DWORD wall = user.ReturnedAt() - t0;
    const ULONGLONG cpu = ThreadCpuMs(GetCurrentThread()) - cpu0;
    pMenu->Release();
    pSecond->Release();

    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ("", user.Failure());
    ASSERT_NE(0u, dwFaultAt.load());
    EXPECT_LT(LONG(user.ReturnedAt() - dwFaultAt), 1000) << "InvokeCommand returned too long after the fault";
    EXPECT_LT(cpu, wall / 3 + 50) << "the shell thread used " << cpu << " ms of " << wall << " ms";
    EXPECT_EQ(c.fault == Fault::kQuit ? std::vector<WPARAM>{7} : std::vector<WPARAM>{}, TakeQuits())
        << "a WM_QUIT is handed back once, after the batch";
    if (c.fault == Fault::kSecondCommand) {
        EXPECT_EQ(S_OK, hrSecond);
    }
    // The file in work is cancelled and removed, and no further file started.
    EXPECT_EQ(before, ListFolder(m_folder));
    EXPECT_EQ(nullptr, FindWindowA("#32770", kBusyCaption));
}

INSTANTIATE_TEST_SUITE_P(Faults, HostFault, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- unloading

// A copy of the DLL under its own name, loaded by this test alone, so that
// FreeLibrary really unloads it.
class CUnloadableCopy {
public:
    explicit CUnloadableCopy(const std::string& path) : m_path(path)
    {
        CopyFileA(WinePath(KESTRIN_DLL_PATH).c_str(), path.c_str(), FALSE);
    }
    ~CUnloadableCopy() { DeleteFileA(m_path.c_str()); }

    // One handler's command from load to unload; what DllCanUnloadNow said.
    HRESULT RunOnce(const std::string& file)
    {
        HMODULE hModule = LoadLibraryA(m_path.c_str());
        if (!hModule)
            throw std::runtime_error("the copy did not load");
        typedef HRESULT(STDAPICALLTYPE * GetClassObjectFn)(REFCLSID, REFIID, void**);
        typedef HRESULT(STDAPICALLTYPE * CanUnloadFn)();
        auto pfnGet = reinterpret_cast<GetClassObjectFn>(
            reinterpret_cast<void*>(GetProcAddress(hModule, "DllGetClassObject")));
        auto pfnCanUnload = reinterpret_cast<CanUnloadFn>(
            reinterpret_cast<void*>(GetProcAddress(hModule, "DllCanUnloadNow")));
        IClassFactory* pFactory = nullptr;
        IShellExtInit* pInit = nullptr;
        if (FAILED(pfnGet(CLSID_ShellExt, IID_IClassFactory, reinterpret_cast<void**>(&pFactory))) ||
            FAILED(pFactory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&pInit))))
            throw std::runtime_error("no handler from the copy");
        pFactory->Release();
        IContextMenu* pMenu = TakeSelection(pInit, {file});
        {
            CUser user([](CUser& u) { AnswerSettings(u, "pass word", 0, false); });
            EXPECT_EQ(S_OK, user.Invoke(pMenu, kEncrypt, nullptr));
            EXPECT_EQ("", user.Failure());
        }
        pMenu->Release();
        // As COM does: ask, then unload at once; the worker may still be
        // on its way out.
        HRESULT hr = pfnCanUnload();
        if (hr == S_OK)
            FreeLibrary(hModule);
        return hr;
    }

private:
    std::string m_path;
};

TEST(Unload, RightAfterInvokeCommandReturnsRepeatedly)
{
    StartWatchdog(180);
    ClearSettings();
    const std::string folder = TempFolder("unload");
    const std::string file = folder + "\\a.txt";
    WriteFile(file, SampleData(3000, 5));
    const std::string dllName = "KestrinUnloadCopy.dll";
    CUnloadableCopy copy(folder + "\\" + dllName);
    for (int i = 0; i < 6; ++i) {
        ASSERT_EQ(S_OK, copy.RunOnce(file)) << "round " << i;
        // Gone once the worker's last instruction has let it go.
        DWORD t = GetTickCount();
        while (GetModuleHandleA(dllName.c_str()) && GetTickCount() - t < 5000)
            Pause(10);
        EXPECT_EQ(nullptr, GetModuleHandleA(dllName.c_str())) << "round " << i << ": still loaded";
        EXPECT_TRUE(Exists(folder + "\\a._xt")) << "round " << i;
        DeleteFileA((folder + "\\a._xt").c_str());
    }
    RemoveFolder(folder);
}

// ---------------------------------------------------------------- many small files

TEST(ManySmallFiles, FiveHundredInOneBatch)
{
    StartWatchdog(300);
    ClearSettings();
    const std::string folder = TempFolder("many");
    std::vector<std::string> paths;
    for (int i = 0; i < 500; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "f%03d.dat", i);
        paths.push_back(folder + "\\" + name);
        WriteFile(paths.back(), SampleData(1024, unsigned(i)));
    }
    IContextMenu* pMenu = CKestrin::Get().CreateMenuFor(paths);
    {
        CUser user([](CUser& u) { AnswerSettings(u, "pass word", 3, true); });
        user.SetPatience(240000);
        EXPECT_EQ(S_OK, user.Invoke(pMenu, kEncrypt, nullptr));
        EXPECT_EQ("", user.Failure());
    }
    pMenu->Release();
    const std::vector<std::string> names = ListFolder(folder);
    EXPECT_EQ(1000u, names.size());
    EXPECT_TRUE(Exists(folder + "\\f000._at"));
    EXPECT_TRUE(Exists(folder + "\\f499._at"));
    RemoveFolder(folder);
}

}  // namespace
