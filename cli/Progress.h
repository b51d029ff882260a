// The per-file progress line on a terminal, like the busy dialog's bars:
// the file, its place in the batch, percent, bytes, rate and time left, as
// much of it as the terminal's width holds, following the width as the
// window is resized.
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
    // The line is erased: the file's own line follows in its place.
    void Clear();
    // The line stays, ended by a newline: the run stops here (a signal).
    void End();


    // The parts that fit in nColumns (at most nColumns - 1 characters, so
    // that the cursor never wraps), most telling first: place and percent,
    // then the name, bytes, rate and time left.
    static std::string Fit(const std::string& strFile, const std::string& strPlace, const std::string* pParts,
                           int nParts, int nColumns);

private:
    std::string Format(int nPercent, double dSeconds, int nColumns) const;
    void Show(const std::string& strLine, int nColumns);

    bool m_bShow;
    size_t m_nShownLength = 0;
    std::string m_strFile;
    int m_nIndex;
    int m_nCount;
    uint64_t m_nTotal;
    int m_nLast = -1;
    int m_nLastSecond = -1;
    int m_nColumns = 0;
    std::chrono::steady_clock::time_point m_start;
};
