// Paints the banner bitmap with pure white transparent on every WM_PAINT; main thread.
#include <windows.h>

#include "resource.h"

namespace {

// Draws bitmap resource id at (x, y) of the window's client area; pure white pixels are left unpainted.
// Nothing is cached: each paint loads a fresh copy, since building the mask blackens the loaded image.
void DrawMaskedBitmap(HWND window, int id, int x, int y) {
    HBITMAP image = (HBITMAP)LoadImageA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(id & 0xFFFF), IMAGE_BITMAP, 0, 0,
                                        LR_LOADTRANSPARENT);
    BITMAP info;
    GetObjectA(image, sizeof info, &info);
    HBITMAP mask = CreateBitmap(info.bmWidth, info.bmHeight, 1, 1, NULL);

    HDC imageDc = CreateCompatibleDC(NULL);
    HDC maskDc = CreateCompatibleDC(NULL);
    HGDIOBJ oldImage = SelectObject(imageDc, image);
    HGDIOBJ oldMask = SelectObject(maskDc, mask);
    // Colour to monochrome: white pixels become 1 bits, all others 0.
    SetBkColor(imageDc, RGB(255, 255, 255));
    BitBlt(maskDc, 0, 0, info.bmWidth, info.bmHeight, imageDc, 0, 0, SRCCOPY);
    // Blacks out the white pixels of the image so that SRCPAINT leaves the screen there.
    BitBlt(imageDc, 0, 0, info.bmWidth, info.bmHeight, maskDc, 0, 0, SRCINVERT);
    SelectObject(imageDc, oldImage);
    SelectObject(maskDc, oldMask);
    DeleteDC(imageDc);
    DeleteDC(maskDc);

    HDC windowDc = GetDC(window);
    HDC memoryDc = CreateCompatibleDC(windowDc);
    GetObjectA(image, sizeof info, &info);
    HGDIOBJ oldObject = SelectObject(memoryDc, mask);
    BitBlt(windowDc, x, y, info.bmWidth, info.bmHeight, memoryDc, 0, 0, SRCAND);
    SelectObject(memoryDc, image);
    BitBlt(windowDc, x, y, info.bmWidth, info.bmHeight, memoryDc, 0, 0, SRCPAINT);
    ReleaseDC(window, windowDc);
    SelectObject(memoryDc, oldObject);
    DeleteDC(memoryDc);
    DeleteObject(mask);
    DeleteObject(image);
}

}  // namespace

void PaintBanner(HWND window) {
    PAINTSTRUCT paint;
    BeginPaint(window, &paint);
    // Drawn through a fresh window DC, so the whole banner is redrawn whatever the update region.
    DrawMaskedBitmap(window, IDB_BANNER, 28, 0);
    EndPaint(window, &paint);
}
