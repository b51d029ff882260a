// The per-file progress line on a terminal, like the busy dialog's bar.
#pragma once

#include <chrono>
#include <cstdint>

class CProgressLine {
public:
    // Shown only when bShow (standard error is a terminal and not -q).
    CProgressLine(bool bShow, uint64_t nTotalBytes);
    void Update(int nPercent);
    void Clear();

    static bool StderrIsTerminal();

private:
    bool m_bShow;
    bool m_bShown = false;
    uint64_t m_nTotal;
    int m_nLast = -1;
    std::chrono::steady_clock::time_point m_start;
};
