#include "screenshot.h"

#include "tool_process.h"

#include <windows.h>

#include <cstring>
#include <string>

namespace {
bool SaveScreenPart(const RECT& part, const std::wstring& path) {
    int width = part.right - part.left;
    int height = part.bottom - part.top;
    if (width <= 0 || height <= 0)
        return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BOOL copied = BitBlt(memory, 0, 0, width, height, screen, part.left, part.top, SRCCOPY);
    SelectObject(memory, old);

    BITMAPINFOHEADER header{};
    header.biSize = sizeof(header);
    header.biWidth = width;
    header.biHeight = height; // bottom-up, as BMP files store it
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    const size_t stride = (size_t(width) * 3 + 3) & ~size_t(3);
    std::string pixels(stride * size_t(height), '\0');
    int lines = copied ? GetDIBits(memory, bitmap, 0, UINT(height), pixels.data(),
                                   reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS)
                       : 0;
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (lines != height)
        return false;

    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42; // "BM"
    file.bfOffBits = sizeof(file) + sizeof(header);
    file.bfSize = DWORD(file.bfOffBits + pixels.size());
    header.biSizeImage = DWORD(pixels.size());
    std::string bytes(sizeof(file) + sizeof(header), '\0');
    std::memcpy(bytes.data(), &file, sizeof(file));
    std::memcpy(bytes.data() + sizeof(file), &header, sizeof(header));
    bytes += pixels;
    return WriteWholeFile(path, bytes);
}
} // namespace

bool SaveScreenshot(const std::wstring& path) {
    RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    return SaveScreenPart(screen, path);
}

bool SaveWindowShot(HWND window, const std::wstring& path) {
    RECT frame{};
    RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    RECT part{};
    return GetWindowRect(window, &frame) && IntersectRect(&part, &frame, &screen) &&
           SaveScreenPart(part, path);
}
