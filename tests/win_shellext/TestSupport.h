// Helpers for the Windows tests: COM on the test thread, Linux paths as Wine
// sees them, scratch files, and the shell's own data object for a selection.
#pragma once

#include <windows.h>

#include <objbase.h>
#include <shlobj.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/common/WinePath.h"

// COM releases on scope exit; Attach takes over a reference.
template <typename T>
class CComRef {
public:
    CComRef() = default;
    ~CComRef() { Reset(); }
    CComRef(const CComRef&) = delete;
    CComRef& operator=(const CComRef&) = delete;

    void Reset()
    {
        if (m_p)
            m_p->Release();
        m_p = nullptr;
    }
    T** Receive() { Reset(); return &m_p; }
    void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }
    T* Detach() { T* p = m_p; m_p = nullptr; return p; }
    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

private:
    T* m_p = nullptr;
};


// The directory for this test program's files, created on first use.
std::string ScratchDir();

// Creates (or truncates) a file with the given text; returns its path.
std::string MakeFile(const std::string& path, const std::string& text = "kestrin test data\n");

// What Explorer hands a handler for these files (all in one folder), built by
// Wine's shell: SHParseDisplayName, SHBindToParent, GetUIObjectOf.
HRESULT ShellDataObject(const std::vector<std::string>& paths, IDataObject** ppdo);

// What a message box of this thread showed.
struct CBoxSeen {
    bool bFound = false;
    std::string caption;
    std::string text;
    HICON hIcon = nullptr;  // the icon it shows, null when none
};

// Runs fn on this thread while a second thread waits for a message box owned
// by this thread, reads it and presses the button idButton.
CBoxSeen AnswerMessageBox(const std::function<void()>& fn, int idButton = IDOK);

// A data object that serves CF_HDROP for the given ANSI paths and counts the
// references handed to it. With no paths it refuses every format.
class CTestDataObject final : public IDataObject {
public:
    explicit CTestDataObject(std::vector<std::string> paths = {}, IDataObject* pInner = nullptr);
    ~CTestDataObject();

    int m_nAddRef = 0;
    int m_nRelease = 0;
    int m_nDroppedToZero = 0;  // Releases that left the handler holding none
    int Held() const { return m_nAddRef - m_nRelease; }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetData(FORMATETC* pfe, STGMEDIUM* pmed) override;
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC* pfe) override;
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC* pOut) override;
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC** pp) override;
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

private:
    std::vector<std::string> m_paths;
    IDataObject* m_pInner;
};
