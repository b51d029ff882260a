#include "shellext/ShellExt.h"

#include <cstddef>
#include <new>
#include <string>
#include <shellapi.h>

#include "batch/BatchDriver.h"
#include "framework/afxconv.h"
#include "shellext/MenuImage.h"
#include "shellext/Module.h"
#include "support/Dpi.h"

namespace {
struct CCommandText {
    const char* pszMenu;
    const char* pszVerb;
    const char* pszHelp;
};

const CCommandText kCommands[kCmdCount] = {
    {"Encrypt with Kestrin", "EncryptFile", "Encrypt the selected file(s)"},
    {"Decrypt with Kestrin", "DecryptFile", "Decrypt the selected file(s)"},
};
const char kProductName[] = "Kestrin";

// CMF_NORMAL, or any request that includes CMF_VERBSONLY or CMF_EXPLORE.
bool WantsItems(UINT uFlags)
{
    return (uFlags & 0x0F) == 0 || (uFlags & (CMF_VERBSONLY | CMF_EXPLORE)) != 0;
}

// The shell hands out identifiers idCmdFirst..idCmdLast, both included;
// the ones beyond belong to other handlers.
bool HasRoomForCommands(UINT idCmdFirst, UINT idCmdLast)
{
    return idCmdLast >= idCmdFirst && idCmdLast - idCmdFirst >= kCmdCount - 1;
}

const char* TextFor(UINT_PTR idCmd, bool bHelp)
{
    if (idCmd >= kCmdCount)
        return kProductName;
    return bHelp ? kCommands[idCmd].pszHelp : kCommands[idCmd].pszVerb;
}

// Copies as much of pszText as fits in cchMax units with its terminator.
template <typename Ch>
void CopyCut(Ch* pDest, const char* pszText, UINT cchMax)
{
    UINT i = 0;
    for (; i + 1 < cchMax && pszText[i]; ++i)
        pDest[i] = Ch(static_cast<unsigned char>(pszText[i]));
    pDest[i] = 0;
}

bool VerbEquals(const char* pszVerb, const char* pszOurs)
{
    return lstrcmpiA(pszVerb, pszOurs) == 0;
}

bool VerbEquals(const wchar_t* pwszVerb, const char* pszOurs)
{
    wchar_t wide[32];
    CopyCut(wide, pszOurs, 32);
    return lstrcmpiW(pwszVerb, wide) == 0;
}

// The wide verb of an extended invocation, or null.
const wchar_t* WideVerb(const CMINVOKECOMMANDINFO* pici)
{
    const DWORD cbNeeded = offsetof(CMINVOKECOMMANDINFOEX, lpVerbW) + sizeof(LPCWSTR);
    if (pici->cbSize < cbNeeded || !(pici->fMask & CMIC_MASK_UNICODE))
        return nullptr;
    return reinterpret_cast<const CMINVOKECOMMANDINFOEX*>(pici)->lpVerbW;
}

// Gives the medium back to its provider on every way out.
class CStgMediumOwner {
public:
    explicit CStgMediumOwner(STGMEDIUM& medium) : m_medium(medium) {}
    ~CStgMediumOwner() { ReleaseStgMedium(&m_medium); }
    CStgMediumOwner(const CStgMediumOwner&) = delete;
    CStgMediumOwner& operator=(const CStgMediumOwner&) = delete;

private:
    STGMEDIUM& m_medium;
};

// One entry of a drop list at its full length, every character kept: the
// narrow query turns what the code page lacks into '?' and sizes its
// buffer in UTF-16 units.
CString DropFileAt(HDROP hDrop, UINT i)
{
    UINT cch = DragQueryFileW(hDrop, i, nullptr, 0);
    if (cch == 0)
        return CString();
    std::wstring path(size_t(cch) + 1, L'\0');
    UINT got = DragQueryFileW(hDrop, i, &path[0], cch + 1);
    return got <= cch ? WideToUtf8(path.c_str(), int(got)) : CString();
}
}  // namespace

int CommandFromInvoke(const CMINVOKECOMMANDINFO* pici)
{
    if (!pici)
        return -1;
    const wchar_t* pwszVerb = WideVerb(pici);
    const bool bAnsiString = !IS_INTRESOURCE(pici->lpVerb);
    const bool bWideString = pwszVerb && !IS_INTRESOURCE(pwszVerb);
    if (!bAnsiString && !bWideString) {
        UINT offset = LOWORD(reinterpret_cast<UINT_PTR>(pici->lpVerb));
        return offset < kCmdCount ? int(offset) : -1;
    }
    for (UINT c = 0; c < kCmdCount; ++c) {
        if ((bWideString && VerbEquals(pwszVerb, kCommands[c].pszVerb)) ||
            (bAnsiString && VerbEquals(pici->lpVerb, kCommands[c].pszVerb)))
            return int(c);
    }
    return -1;
}

bool ReadDropFiles(IDataObject* pdtobj, CStringArray& files)
{
    FORMATETC fmt = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium = {};
    if (FAILED(pdtobj->GetData(&fmt, &medium)))
        return false;
    CStgMediumOwner owner(medium);
    if (medium.tymed != TYMED_HGLOBAL || !medium.hGlobal)
        return false;
    HDROP hDrop = static_cast<HDROP>(medium.hGlobal);
    UINT count = DragQueryFileW(hDrop, 0xFFFFFFFF, nullptr, 0);
    files.SetSize(int(count));
    for (UINT i = 0; i < count; ++i)
        files[int(i)] = DropFileAt(hDrop, i);
    files.FreeExtra();
    return true;
}

CShellExt::CShellExt() : m_cRef(0), m_pDataObj(nullptr)
{
    ModuleObjectCreated();
}

CShellExt::~CShellExt()
{
    if (m_pDataObj)
        m_pDataObj->Release();
    ModuleObjectDestroyed();
}

STDMETHODIMP CShellExt::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IShellExtInit) || IsEqualIID(riid, IID_IUnknown))
        *ppv = static_cast<IShellExtInit*>(this);
    else if (IsEqualIID(riid, IID_IContextMenu))
        *ppv = static_cast<IContextMenu*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CShellExt::AddRef()
{
    return ++m_cRef;
}

STDMETHODIMP_(ULONG) CShellExt::Release()
{
    if (--m_cRef)
        return m_cRef;
    delete this;
    return 0;
}

STDMETHODIMP CShellExt::Initialize(PCIDLIST_ABSOLUTE, IDataObject* pdtobj, HKEY)
{
    // Take the new reference before letting the old one go: the two may be
    // the same object, held by nobody else.
    if (pdtobj)
        pdtobj->AddRef();
    if (m_pDataObj)
        m_pDataObj->Release();
    m_pDataObj = pdtobj;
    if (!pdtobj)
        return E_FAIL;
    m_files.RemoveAll();
    try {
        return ReadDropFiles(pdtobj, m_files) ? S_OK : E_FAIL;
    } catch (...) {
        m_files.RemoveAll();
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP CShellExt::QueryContextMenu(HMENU hmenu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast,
                                         UINT uFlags)
{
    if (!WantsItems(uFlags) || !HasRoomForCommands(idCmdFirst, idCmdLast))
        return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
    HMENU hSubmenu = CreatePopupMenu();
    if (!hSubmenu)
        return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
    for (UINT c = 0; c < kCmdCount; ++c)
        AppendMenuA(hSubmenu, MF_STRING, idCmdFirst + c, kCommands[c].pszMenu);

    // A position past the end appends; the bitmaps must go to where it landed.
    int nBefore = GetMenuItemCount(hmenu);
    UINT position = nBefore >= 0 && indexMenu > UINT(nBefore) ? UINT(nBefore) : indexMenu;
    if (!InsertMenuA(hmenu, position, MF_BYPOSITION | MF_POPUP, reinterpret_cast<UINT_PTR>(hSubmenu),
                     kProductName)) {
        DestroyMenu(hSubmenu);
        return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
    }
    // The item's own image (not a check mark): menus blend its alpha.
    MENUITEMINFOA mii = {};
    mii.cbSize = sizeof(mii);
    mii.fMask = MIIM_BITMAP;
    mii.hbmpItem = GetMenuImage(GetMenuDpi());
    if (mii.hbmpItem)
        SetMenuItemInfoA(hmenu, position, TRUE, &mii);
    return MAKE_HRESULT(SEVERITY_SUCCESS, 0, kCmdCount);
}

STDMETHODIMP CShellExt::InvokeCommand(CMINVOKECOMMANDINFO* pici)
{
    // The batch pumps the shell's messages: the shell may release this
    // handler or hand it a new selection meanwhile. The batch works on its
    // own copy of the list, and the handler stays until the batch is over.
    AddRef();
    try {
        int nCommand = CommandFromInvoke(pici);
        if (nCommand >= 0) {
            CStringArray files;
            for (int i = 0; i < m_files.GetSize(); ++i)
                files.Add(m_files[i]);
            RunBatch(files, nCommand == int(kCmdEncrypt), pici->hwnd);
        }
    } catch (...) {
        // The batch reports its own failures; nothing may reach the shell.
    }
    Release();
    return S_OK;
}

STDMETHODIMP CShellExt::GetCommandString(UINT_PTR idCmd, UINT uFlags, UINT*, CHAR* pszName, UINT cchMax)
{
    bool bWide = false;
    bool bHelp = false;
    switch (uFlags) {
    case GCS_VERBA: break;
    case GCS_HELPTEXTA: bHelp = true; break;
    case GCS_VERBW: bWide = true; break;
    case GCS_HELPTEXTW: bWide = bHelp = true; break;
    default: return S_OK;  // validation and other requests: nothing to write
    }
    if (!pszName || cchMax == 0)
        return S_OK;
    const char* pszText = TextFor(idCmd, bHelp);
    if (bWide)
        CopyCut(reinterpret_cast<wchar_t*>(pszName), pszText, cchMax);
    else
        CopyCut(pszName, pszText, cchMax);
    return S_OK;
}
