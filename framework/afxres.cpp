#include "framework/afxres.h"

namespace {
HINSTANCE g_hInstance = nullptr;
HINSTANCE g_hResource = nullptr;
}  // namespace

HINSTANCE AfxGetInstanceHandle() { return g_hInstance ? g_hInstance : GetModuleHandleA(nullptr); }
HINSTANCE AfxGetResourceHandle() { return g_hResource ? g_hResource : AfxGetInstanceHandle(); }
void AfxSetInstanceHandle(HINSTANCE hInstance) { g_hInstance = hInstance; }
void AfxSetResourceHandle(HINSTANCE hInstance) { g_hResource = hInstance; }
