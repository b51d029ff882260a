#include "cli/Progress.h"

#include <algorithm>
#include <csignal>
#include <cstdio>

#ifdef _WIN32
#include <io.h>
#include "framework/afxdefs.h"
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace {

const size_t kMaxNameShown = 32;
const int kDefaultColumns = 80;

volatile std::sig_atomic_t g_bResized = 0;

#ifndef _WIN32
extern "C" void OnResize(int) { g_bResized = 1; }

// With SA_RESTART: a resize must not end a read (the password prompt's).
void FollowResizes()
{
    static bool s_bInstalled = false;
    if (s_bInstalled)
        return;
    s_bInstalled = true;
    struct sigaction action = {};
    action.sa_handler = OnResize;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGWINCH, &action, nullptr);
}
#endif

int TerminalColumns()
{
#ifdef _WIN32
    CONSOLE_SCREEN_BUFFER_INFO info;
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stderr)));
    if (h != INVALID_HANDLE_VALUE && GetConsoleScreenBufferInfo(h, &info))
        return info.srWindow.Right - info.srWindow.Left + 1;
#else
    winsize size = {};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
#endif
    return kDefaultColumns;
}

std::string FormatBytes(double dBytes)
{
    char sz[32];
    if (dBytes >= 1073741824.0)
        std::snprintf(sz, sizeof sz, "%.1f GiB", dBytes / 1073741824.0);
    else if (dBytes >= 1048576.0)
        std::snprintf(sz, sizeof sz, "%.1f MiB", dBytes / 1048576.0);
    else if (dBytes >= 1024.0)
        std::snprintf(sz, sizeof sz, "%.1f KiB", dBytes / 1024.0);
    else
        std::snprintf(sz, sizeof sz, "%.0f B", dBytes);
    return sz;
}

std::string FormatDuration(double dSeconds)
{
    const long n = long(dSeconds + 0.5);
    char sz[32];
    if (n >= 3600)
        std::snprintf(sz, sizeof sz, "%ld:%02ld:%02ld", n / 3600, n / 60 % 60, n % 60);
    else
        std::snprintf(sz, sizeof sz, "%ld:%02ld", n / 60, n % 60);
    return sz;
}

// Characters, not bytes: a UTF-8 name's continuation bytes take no column.
size_t Columns(const std::string& s)
{
    size_t n = 0;
    for (unsigned char c : s)
        n += (c & 0xC0) != 0x80;
    return n;
}

// The end of a long path is the part that tells files apart.
std::string ShortName(const std::string& strFile, size_t nMax)
{
    if (Columns(strFile) <= nMax)
        return strFile;
    const size_t nKeep = nMax > 3 ? nMax - 3 : nMax;
    size_t nStart = strFile.size();
    for (size_t nChars = 0; nStart > 0 && nChars < nKeep;) {
        --nStart;
        nChars += (static_cast<unsigned char>(strFile[nStart]) & 0xC0) != 0x80;
    }
    return (nMax > 3 ? "..." : "") + strFile.substr(nStart);
}

}  // namespace

CProgressLine::CProgressLine(bool bShow, const std::string& strFile, int nIndex, int nCount, uint64_t nTotalBytes)
    : m_bShow(bShow), m_strFile(strFile), m_nIndex(nIndex), m_nCount(nCount), m_nTotal(nTotalBytes),
      m_start(std::chrono::steady_clock::now())
{
#ifndef _WIN32
    if (m_bShow)
        FollowResizes();
#endif
}

std::string CProgressLine::Fit(const std::string& strFile, const std::string& strPlace, const std::string* pParts,
                               int nParts, int nColumns)
{
    const size_t nWidth = nColumns > 1 ? size_t(nColumns - 1) : 1;
    const size_t nMinName = std::min<size_t>(Columns(strFile), 12);
    // The least telling parts go first until the rest fits beside a short name.
    auto tailWidth = [&](int n) {
        size_t nTail = Columns(strPlace);
        for (int i = 0; i < n; ++i)
            nTail += 2 + Columns(pParts[i]);
        return nTail;
    };
    while (nParts > 1 && nMinName + 2 + tailWidth(nParts) > nWidth)
        --nParts;
    std::string strTail = strPlace;
    for (int i = 0; i < nParts; ++i)
        strTail += "  " + pParts[i];
    const size_t nTail = Columns(strTail);
    if (nTail + 2 + 4 > nWidth)  // no room for a name worth showing
        return strTail.substr(0, nWidth);
    return ShortName(strFile, std::min(kMaxNameShown, nWidth - nTail - 2)) + "  " + strTail;
}

std::string CProgressLine::Format(int nPercent, double dSeconds, int nColumns) const
{
    const std::string strPlace = std::to_string(m_nIndex) + "/" + std::to_string(m_nCount);
    if (m_nTotal == kUnknownSize) {
        const std::string strTime = FormatDuration(dSeconds);
        return Fit(m_strFile, strPlace, &strTime, 1, nColumns);
    }
    const double dDone = double(m_nTotal) * nPercent / 100.0;
    const double dRate = dSeconds > 0.05 ? dDone / dSeconds : 0.0;
    char szPercent[8];
    std::snprintf(szPercent, sizeof szPercent, "%3d%%", nPercent);
    std::string parts[4] = {szPercent, FormatBytes(dDone) + " of " + FormatBytes(double(m_nTotal)),
                            FormatBytes(dRate) + "/s"};
    int nParts = 3;
    if (dRate > 0.0 && nPercent < 100)
        parts[nParts++] = FormatDuration((double(m_nTotal) - dDone) / dRate) + " left";
    return Fit(m_strFile, strPlace, parts, nParts, nColumns);
}

void CProgressLine::Show(const std::string& strLine, int nColumns)
{
    // Blanks over the rest of a longer line shown before, never past the
    // last column (a narrower window would wrap them).
    const size_t nLength = Columns(strLine);
    size_t nOld = m_nShownLength;
    if (nColumns > 1 && nOld > size_t(nColumns - 1))
        nOld = size_t(nColumns - 1);
    const size_t nPad = nOld > nLength ? nOld - nLength : 0;
    std::fprintf(stderr, "\r%s%*s", strLine.c_str(), int(nPad), "");
    std::fflush(stderr);
    m_nShownLength = nLength;
}

void CProgressLine::Update(int nPercent)
{
    if (!m_bShow)
        return;
    const double dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    // A new line asks once; then a resize (SIGWINCH) makes it ask again.
    bool bResized = g_bResized != 0 || m_nColumns == 0;
#ifdef _WIN32
    bResized = true;  // no signal tells: the console is asked each time
#endif
    if (bResized) {
        g_bResized = 0;
        const int nColumns = TerminalColumns();
        bResized = nColumns != m_nColumns;
        m_nColumns = nColumns;
    }
    // A stream has no percentage: its clock is what moves.
    if (!bResized && nPercent == m_nLast && int(dSeconds) == m_nLastSecond)
        return;
    m_nLast = nPercent;
    m_nLastSecond = int(dSeconds);
    Show(Format(nPercent, dSeconds, m_nColumns), m_nColumns);
}

void CProgressLine::Clear()
{
    if (!m_nShownLength)
        return;
    std::fprintf(stderr, "\r%*s\r", int(m_nShownLength), "");
    std::fflush(stderr);
    m_nShownLength = 0;
}

void CProgressLine::End()
{
    if (!m_nShownLength)
        return;
    std::fputc('\n', stderr);
    std::fflush(stderr);
    m_nShownLength = 0;
}
