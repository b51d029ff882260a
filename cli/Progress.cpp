#include "cli/Progress.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

const size_t kMaxNameShown = 32;

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

// The end of a long path is the part that tells files apart.
std::string ShortName(const std::string& strFile)
{
    if (strFile.size() <= kMaxNameShown)
        return strFile;
    return "..." + strFile.substr(strFile.size() - (kMaxNameShown - 3));
}

}  // namespace

CProgressLine::CProgressLine(bool bShow, const std::string& strFile, int nIndex, int nCount, uint64_t nTotalBytes)
    : m_bShow(bShow), m_strFile(ShortName(strFile)), m_nIndex(nIndex), m_nCount(nCount), m_nTotal(nTotalBytes),
      m_start(std::chrono::steady_clock::now())
{
}

bool CProgressLine::StderrIsTerminal()
{
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

std::string CProgressLine::Format(int nPercent, double dSeconds) const
{
    std::string strLine = m_strFile + "  " + std::to_string(m_nIndex) + "/" + std::to_string(m_nCount) + "  ";
    if (m_nTotal == kUnknownSize)
        return strLine + FormatDuration(dSeconds);
    const double dDone = double(m_nTotal) * nPercent / 100.0;
    const double dRate = dSeconds > 0.05 ? dDone / dSeconds : 0.0;
    char szPercent[8];
    std::snprintf(szPercent, sizeof szPercent, "%3d%%", nPercent);
    strLine += std::string(szPercent) + "  " + FormatBytes(dDone) + " of " + FormatBytes(double(m_nTotal)) + "  " +
               FormatBytes(dRate) + "/s";
    if (dRate > 0.0 && nPercent < 100)
        strLine += "  " + FormatDuration((double(m_nTotal) - dDone) / dRate) + " left";
    return strLine;
}

void CProgressLine::Update(int nPercent)
{
    if (!m_bShow)
        return;
    const double dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    // A stream has no percentage: its clock is what moves.
    if (nPercent == m_nLast && int(dSeconds) == m_nLastSecond)
        return;
    m_nLast = nPercent;
    m_nLastSecond = int(dSeconds);
    const std::string strLine = Format(nPercent, dSeconds);
    // Blanks over the rest of a longer line shown before.
    const size_t nPad = m_nShownLength > strLine.size() ? m_nShownLength - strLine.size() : 0;
    std::fprintf(stderr, "\r%s%*s", strLine.c_str(), int(nPad), "");
    std::fflush(stderr);
    m_nShownLength = strLine.size();
}

void CProgressLine::Clear()
{
    if (!m_nShownLength)
        return;
    std::fprintf(stderr, "\r%*s\r", int(m_nShownLength), "");
    std::fflush(stderr);
    m_nShownLength = 0;
}
