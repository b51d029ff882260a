// The context-menu handler the shell creates for a selection of files: it
// takes the selection in Initialize, adds the "Kestrin" submenu, answers verb
// and help requests, and runs the batch when a command is chosen.
#pragma once

#ifdef _WIN32
#include "framework/afxdefs.h"

#include <shlobj.h>

#include "framework/afxstr.h"

class CShellExt final : public IContextMenu, public IShellExtInit {
public:
    CShellExt();
    CShellExt(const CShellExt&) = delete;
    CShellExt& operator=(const CShellExt&) = delete;

    // IUnknown (shared by both interfaces)
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IContextMenu
    STDMETHODIMP QueryContextMenu(HMENU hmenu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast,
                                  UINT uFlags) override;
    STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* pici) override;
    STDMETHODIMP GetCommandString(UINT_PTR idCmd, UINT uFlags, UINT* pReserved, CHAR* pszName,
                                  UINT cchMax) override;

    // IShellExtInit
    STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE pidlFolder, IDataObject* pdtobj, HKEY hkeyProgID) override;

    // The selection as the last Initialize read it.
    const CStringArray& GetFiles() const { return m_files; }

private:
    ~CShellExt();

    ULONG m_cRef;
    IDataObject* m_pDataObj;
    CStringArray m_files;
};

// Command offsets within the submenu.
enum : UINT { kCmdEncrypt = 0, kCmdDecrypt = 1, kCmdCount = 2 };

// Which of our commands an invocation names (offset or our own verb, ANSI or
// wide), or -1 when it names none of them.
int CommandFromInvoke(const CMINVOKECOMMANDINFO* pici);

// Reads the CF_HDROP list of a data object into files, in drop order. False
// when the object cannot deliver one.
bool ReadDropFiles(IDataObject* pdtobj, CStringArray& files);
#endif
