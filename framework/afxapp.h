// The application object in the framework's shape: one per module, created
// statically; the module calls InitInstance once it is attached and
// ExitInstance before it goes. AfxMessageBox uses its title as the caption.
#pragma once

#ifdef _WIN32
#include "framework/afxdefs.h"
#include "framework/afxstr.h"

class CWinApp {
public:
    // pszAppName: the title; when null, the module's file name without its
    // extension, taken at InitInstance.
    explicit CWinApp(const char* pszAppName = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance();
    virtual int ExitInstance();

    const char* m_pszAppName;  // points into m_strAppName

protected:
    void SetAppName(const char* pszAppName);

private:
    CString m_strAppName;
};

// The module's application object, or null when there is none (a test program).
CWinApp* AfxGetApp();

// The caption of the framework's message boxes: the application's title, or
// the file name (without extension) of AfxGetInstanceHandle()'s module when
// there is no application object. Never throws.
CString AfxGetAppTitle();

// The full path of a module's file at any length; empty when the system
// cannot name the module.
CString AfxGetModuleFileName(HMODULE hModule);

// The file name of a module without folder and extension ("Kestrin" for
// Z:\bin\Kestrin.dll). Empty when the system cannot name the module.
CString AfxModuleTitle(HMODULE hModule);

// MessageBox owned by the active window, captioned with the application's
// title; MB_ICONEXCLAMATION is added when type names no icon. helpId is kept
// for the framework's signature: there is no help file. Never throws.
int AfxMessageBox(const char* text, UINT type = MB_OK, UINT helpId = 0);
#endif
