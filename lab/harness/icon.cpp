#include "internal.h"

#include <algorithm>
#include <cstdlib>

// A box's icon handle belongs to the child process and cannot be read from
// here, so the icon is told by comparing the screen with each standard icon
// drawn on the same background.
namespace testbed {
namespace {

const int kMaxMeanDifference = 12;  // per colour channel, out of 255
const int kAttempts = 10;           // the box may not be painted yet
const DWORD kAttemptPauseMs = 30;

template <typename Paint>
std::vector<DWORD> PaintToPixels(int width, int height, Paint paint)
{
    std::vector<DWORD> pixels;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = (memory != nullptr && bitmap != nullptr) ? SelectObject(memory, bitmap) : nullptr;
    if (old != nullptr && paint(memory, screen)) {
        GdiFlush();
        const DWORD* first = static_cast<const DWORD*>(bits);
        pixels.assign(first, first + static_cast<size_t>(width) * height);
    }
    if (old != nullptr)
        SelectObject(memory, old);
    if (bitmap != nullptr)
        DeleteObject(bitmap);
    if (memory != nullptr)
        DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

std::vector<DWORD> CaptureScreen(const RECT& rect)
{
    return PaintToPixels(rect.right - rect.left, rect.bottom - rect.top, [&rect](HDC to, HDC screen) {
        return BitBlt(to, 0, 0, rect.right - rect.left, rect.bottom - rect.top, screen, rect.left, rect.top, SRCCOPY) !=
               FALSE;
    });
}

std::vector<DWORD> RenderIcon(HICON icon, int width, int height, DWORD background)
{
    return PaintToPixels(width, height, [=](HDC to, HDC) {
        // DIB pixels are 0x00RRGGBB; COLORREF wants 0x00BBGGRR.
        HBRUSH brush = CreateSolidBrush(RGB((background >> 16) & 0xFF, (background >> 8) & 0xFF, background & 0xFF));
        RECT all = {0, 0, width, height};
        bool ok = brush != nullptr && FillRect(to, &all, brush) &&
                  DrawIconEx(to, 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
        if (brush != nullptr)
            DeleteObject(brush);
        return ok;
    });
}

int MeanDifference(const std::vector<DWORD>& a, const std::vector<DWORD>& b)
{
    long long total = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        for (int shift = 0; shift < 24; shift += 8) {
            total += std::abs(static_cast<int>((a[i] >> shift) & 0xFF) - static_cast<int>((b[i] >> shift) & 0xFF));
        }
    }
    return a.empty() ? 255 : static_cast<int>(total / (static_cast<long long>(a.size()) * 3));
}

BoxIcon MatchIcon(const RECT& rect)
{
    struct Candidate {
        const wchar_t* resource;
        BoxIcon icon;
    };
    const Candidate candidates[] = {{IDI_INFORMATION, BoxIcon::Information},
                                    {IDI_WARNING, BoxIcon::Warning},
                                    {IDI_ERROR, BoxIcon::Error},
                                    {IDI_QUESTION, BoxIcon::Question}};
    std::vector<DWORD> screen = CaptureScreen(rect);
    BoxIcon best = BoxIcon::Unknown;
    int bestDifference = kMaxMeanDifference + 1;
    for (const auto& candidate : candidates) {
        if (screen.empty())
            break;
        std::vector<DWORD> drawn = RenderIcon(LoadIconW(nullptr, candidate.resource), rect.right - rect.left,
                                              rect.bottom - rect.top, screen[0]);
        int difference = drawn.size() == screen.size() ? MeanDifference(drawn, screen) : 255;
        if (difference < bestDifference) {
            bestDifference = difference;
            best = candidate.icon;
        }
    }
    return best;
}

}  // namespace

BoxIcon ReadBoxIcon(const WindowInfo& box)
{
    auto found = std::find_if(box.controls.begin(), box.controls.end(), [](const ControlInfo& c) {
        return c.visible && ClassIs(c.className, L"Static") && (c.style & SS_TYPEMASK) == SS_ICON;
    });
    DWORD_PTR handle = 0;
    // Wine keeps an empty icon control on a box without an icon.
    if (found != box.controls.end()) {
        SendMessageTimeoutW(GetDlgItem(box.hwnd, found->id), STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs,
                            &handle);
    }
    BoxIcon icon = handle == 0 ? BoxIcon::None : BoxIcon::Unknown;
    for (int i = 0; i < kAttempts && icon == BoxIcon::Unknown; ++i) {
        if (i > 0)
            Sleep(kAttemptPauseMs);
        icon = MatchIcon(found->rect);
    }
    return icon;
}

}  // namespace testbed
