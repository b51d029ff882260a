#include "cli/Progress.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

void FormatBytes(char* psz, size_t n, double dBytes)
{
    if (dBytes >= 1048576.0)
        std::snprintf(psz, n, "%.1f MiB", dBytes / 1048576.0);
    else if (dBytes >= 1024.0)
        std::snprintf(psz, n, "%.1f KiB", dBytes / 1024.0);
    else
        std::snprintf(psz, n, "%.0f B", dBytes);
}

}  // namespace

CProgressLine::CProgressLine(bool bShow, uint64_t nTotalBytes)
    : m_bShow(bShow), m_nTotal(nTotalBytes == UINT64_MAX ? 0 : nTotalBytes),
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

void CProgressLine::Update(int nPercent)
{
    if (!m_bShow || nPercent == m_nLast)
        return;
    m_nLast = nPercent;
    const double dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    const double dDone = double(m_nTotal) * nPercent / 100.0;
    char szDone[32], szTotal[32], szRate[32];
    FormatBytes(szDone, sizeof szDone, dDone);
    FormatBytes(szTotal, sizeof szTotal, double(m_nTotal));
    FormatBytes(szRate, sizeof szRate, dSeconds > 0.05 ? dDone / dSeconds : 0.0);
    std::fprintf(stderr, "\r%3d%%  %s of %s  %s/s   ", nPercent, szDone, szTotal, szRate);
    std::fflush(stderr);
    m_bShown = true;
}

void CProgressLine::Clear()
{
    if (!m_bShown)
        return;
    std::fprintf(stderr, "\r%60s\r", "");
    std::fflush(stderr);
    m_bShown = false;
}
