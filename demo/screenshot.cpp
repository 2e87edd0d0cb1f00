#include "screenshot.h"

#include <stdio.h>

RECT areaOf(std::initializer_list<HWND> windows) {
    RECT area = {};
    for (HWND window : windows) {
        RECT one;
        if (GetWindowRect(window, &one))
            UnionRect(&area, &area, &one);
    }
    return area;
}

static bool oneColour(const BYTE *pixels, int width, int height, int stride) {
    for (int y = 0; y < height; y++) {
        const BYTE *row = pixels + (size_t)y * stride;
        for (int x = 0; x < width * 3; x++)
            if (row[x] != pixels[x % 3])
                return false;
    }
    return true;
}

static bool writeBmp(const std::wstring &file, const BITMAPINFOHEADER &header, const void *pixels,
                     DWORD size) {
    BITMAPFILEHEADER head = {};
    head.bfType = 0x4D42; // "BM"
    head.bfOffBits = sizeof head + sizeof header;
    head.bfSize = head.bfOffBits + size;
    FILE *f = _wfopen(file.c_str(), L"wb");
    if (!f)
        return false;
    bool ok = fwrite(&head, sizeof head, 1, f) == 1 && fwrite(&header, sizeof header, 1, f) == 1 &&
              fwrite(pixels, size, 1, f) == 1;
    return fclose(f) == 0 && ok;
}

bool saveScreenArea(const RECT &area, const std::wstring &file) {
    int width = area.right - area.left;
    int height = area.bottom - area.top;
    if (width <= 0 || height <= 0)
        return false;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    int stride = (width * 3 + 3) & ~3;
    DWORD size = (DWORD)stride * height;
    info.bmiHeader.biSizeImage = size;

    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    void *pixels = NULL;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &pixels, NULL, 0);
    bool ok = false;
    if (memory && bitmap) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, width, height, screen, area.left, area.top,
                    SRCCOPY | CAPTUREBLT) != 0;
        GdiFlush();
        ok = ok && !oneColour((const BYTE *)pixels, width, height, stride) &&
             writeBmp(file, info.bmiHeader, pixels, size);
        SelectObject(memory, old);
    }
    if (bitmap)
        DeleteObject(bitmap);
    if (memory)
        DeleteDC(memory);
    ReleaseDC(NULL, screen);
    return ok;
}
