// What the handler puts beside its menu item, as one line of text, so that a
// test in this process and the probe run at another DPI compare alike.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// The first row in memory that is not clear: the padlock's shackle (grey)
// when rows run top down, its body (gold) when they run bottom up. GetObject
// reports every DIB section's height as positive.
inline bool RowsRunTopDown(const uint32_t* p, long cx, long cy)
{
    for (long i = 0; i < cx * cy; ++i) {
        const uint32_t r = (p[i] >> 16) & 0xFF, g = (p[i] >> 8) & 0xFF, b = p[i] & 0xFF;
        if (p[i] >> 24 == 255)
            return r == g && g == b;
    }
    return false;
}

// "16x16, 32-bit, top-down, premultiplied, smooth" for an image drawn as menus
// want it: a DIB section with alpha, each colour at most its alpha, some
// pixels clear, some opaque and some in between (the smoothed edges).
inline std::string DescribeMenuImage(HBITMAP hbmp)
{
    DIBSECTION ds = {};
    if (!hbmp || GetObjectA(hbmp, sizeof ds, &ds) != int(sizeof ds))
        return "no DIB section";
    std::string s = std::to_string(ds.dsBm.bmWidth) + "x" + std::to_string(ds.dsBm.bmHeight) + ", " +
                    std::to_string(ds.dsBm.bmBitsPixel) + "-bit";
    if (ds.dsBm.bmBitsPixel != 32 || !ds.dsBm.bmBits)
        return s;
    const uint32_t* p = static_cast<const uint32_t*>(ds.dsBm.bmBits);
    s += RowsRunTopDown(p, ds.dsBm.bmWidth, ds.dsBm.bmHeight) ? ", top-down" : ", bottom-up";
    bool bPremultiplied = true;
    int nClear = 0, nOpaque = 0, nPartial = 0;
    for (long i = 0; i < long(ds.dsBm.bmWidth) * ds.dsBm.bmHeight; ++i) {
        const uint32_t a = p[i] >> 24;
        for (int shift : {0, 8, 16})
            bPremultiplied = bPremultiplied && ((p[i] >> shift) & 0xFF) <= a;
        (a == 0 ? nClear : a == 255 ? nOpaque : nPartial)++;
    }
    s += bPremultiplied ? ", premultiplied" : ", not premultiplied";
    s += nClear && nOpaque && nPartial ? ", smooth" : ", not smooth";
    return s;
}

inline std::string ExpectedMenuImage(int nSize)
{
    return std::to_string(nSize) + "x" + std::to_string(nSize) + ", 32-bit, top-down, premultiplied, smooth";
}
