#include "shellext/MenuImage.h"

#include <cstdint>
#include <map>
#include <new>
#include <utility>

#include "framework/afxgdi.h"
#include "framework/afxlock.h"
#include "res/MenuPadlock.h"
#include "support/Dpi.h"

namespace {
const int kSamples = 4;  // per pixel and axis: 16 samples smooth the edges

bool Covers(const CMenuShape& s, float x, float y)
{
    if (x < s.x0 || x > s.x1 || y < s.y0 || y > s.y1)
        return false;
    // Distance into a corner's square, measured from its circle's centre.
    float dx = x < s.x0 + s.radius ? s.x0 + s.radius - x : x > s.x1 - s.radius ? x - (s.x1 - s.radius) : 0.0f;
    float dy = y < s.y0 + s.radius ? s.y0 + s.radius - y : y > s.y1 - s.radius ? y - (s.y1 - s.radius) : 0.0f;
    return dx * dx + dy * dy <= s.radius * s.radius;
}

// The colour of the last shape that covers the point of the grid.
uint32_t ColourAt(float x, float y)
{
    uint32_t argb = 0;
    for (const CMenuShape& s : kMenuPadlock)
        if (Covers(s, x, y))
            argb = s.argb;
    return argb;
}

// Each pixel is the mean of its samples, premultiplied: BGRA in memory.
void Paint(uint32_t* pBits, int cx, int cy)
{
    const float sx = kMenuShapeGrid / float(cx * kSamples), sy = kMenuShapeGrid / float(cy * kSamples);
    for (int y = 0; y < cy; ++y) {
        for (int x = 0; x < cx; ++x) {
            unsigned sum[4] = {};  // a, r, g, b, each weighted by its alpha
            for (int j = 0; j < kSamples; ++j) {
                for (int i = 0; i < kSamples; ++i) {
                    const uint32_t c = ColourAt((float(x * kSamples + i) + 0.5f) * sx,
                                                (float(y * kSamples + j) + 0.5f) * sy);
                    const unsigned a = c >> 24;
                    sum[0] += a;
                    for (int k = 1; k < 4; ++k)
                        sum[k] += ((c >> (24 - 8 * k)) & 0xFF) * a / 255;
                }
            }
            const unsigned n = kSamples * kSamples;
            pBits[size_t(y) * size_t(cx) + size_t(x)] =
                (sum[0] / n) << 24 | (sum[1] / n) << 16 | (sum[2] / n) << 8 | sum[3] / n;
        }
    }
}

CCriticalSection g_csImages;  // Explorer fills menus on several threads
}  // namespace

HBITMAP GetMenuImage(UINT nDpi)
{
    const int cx = GetSystemMetricForDpi(SM_CXSMICON, nDpi), cy = GetSystemMetricForDpi(SM_CYSMICON, nDpi);
    if (cx <= 0 || cy <= 0 || cx > 256 || cy > 256)
        return nullptr;
    // A handful of sizes at most: one per DPI of the monitors the menu opened on.
    static std::map<std::pair<int, int>, CBitmap> s_images;
    try {
        CScopedLock lock(g_csImages);
        CBitmap& bmp = s_images[{cx, cy}];
        void* pBits = nullptr;
        if (!bmp.GetSafeHandle() && bmp.CreateTopDownDIB(cx, cy, &pBits) && pBits)
            Paint(static_cast<uint32_t*>(pBits), cx, cy);
        return bmp;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
