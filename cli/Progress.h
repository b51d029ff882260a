// The per-file progress line on a terminal, like the busy dialog's bars:
// the file, its place in the batch, percent, bytes, rate and time left.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

class CProgressLine {
public:
    static const uint64_t kUnknownSize = UINT64_MAX;

    // Shown only when bShow (standard error is a terminal and not -q). A
    // stream of unknown size shows its name, place and time only.
    CProgressLine(bool bShow, const std::string& strFile, int nIndex, int nCount, uint64_t nTotalBytes);
    void Update(int nPercent);
    void Clear();

    static bool StderrIsTerminal();

private:
    std::string Format(int nPercent, double dSeconds) const;

    bool m_bShow;
    size_t m_nShownLength = 0;
    std::string m_strFile;
    int m_nIndex;
    int m_nCount;
    uint64_t m_nTotal;
    int m_nLast = -1;
    int m_nLastSecond = -1;
    std::chrono::steady_clock::time_point m_start;
};
