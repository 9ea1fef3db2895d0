#include "platform/win32/Win32Pictures.h"

#include <algorithm>
#include <cmath>

namespace ovrin::win32 {
namespace {

struct Look {
    COLORREF mast = 0, wave = 0;
    int waves = 0;
    bool bothSides = false, wide = false, crossed = false;
    const wchar_t* text = L"";
    COLORREF textColour = 0;
    bool frame = false, fill = false;
    COLORREF frameColour = 0, fillColour = 0;
};

constexpr double kPi = 3.14159265358979323846;

void Line(HDC dc, double x0, double y0, double x1, double y1) {
    MoveToEx(dc, static_cast<int>(std::lround(x0)), static_cast<int>(std::lround(y0)), nullptr);
    LineTo(dc, static_cast<int>(std::lround(x1)), static_cast<int>(std::lround(y1)));
}

// An arc of the circle around (cx, cy) from `from` to `to` degrees, counted
// anticlockwise from three o'clock as seen on the screen.
void ArcDegrees(HDC dc, double cx, double cy, double r, double from, double to) {
    const auto x = [&](double d) { return static_cast<int>(std::lround(cx + r * std::cos(d * kPi / 180))); };
    const auto y = [&](double d) { return static_cast<int>(std::lround(cy - r * std::sin(d * kPi / 180))); };
    SetArcDirection(dc, AD_COUNTERCLOCKWISE);
    Arc(dc, static_cast<int>(cx - r), static_cast<int>(cy - r), static_cast<int>(cx + r), static_cast<int>(cy + r),
        x(from), y(from), x(to), y(to));
}

HPEN Pen(COLORREF colour, int width) {
    LOGBRUSH brush{BS_SOLID, colour, 0};
    return ExtCreatePen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_ROUND | PS_JOIN_ROUND, static_cast<DWORD>(width), &brush, 0, nullptr);
}

void DrawAerial(HDC dc, double tx, double ty, const Look& look) {
    HPEN mast = Pen(look.mast, 3);
    HGDIOBJ old = SelectObject(dc, mast);
    Line(dc, tx, ty, tx, ty + 34);
    Line(dc, tx, ty + 14, tx - 10, ty + 34);
    Line(dc, tx, ty + 14, tx + 10, ty + 34);
    Line(dc, tx - 6, ty + 24, tx + 6, ty + 24);
    HBRUSH tipBrush = CreateSolidBrush(look.waves > 0 ? look.wave : look.mast);
    SelectObject(dc, GetStockObject(NULL_PEN));
    HGDIOBJ oldBrush = SelectObject(dc, tipBrush);
    Ellipse(dc, static_cast<int>(tx - 4), static_cast<int>(ty - 4), static_cast<int>(tx + 5), static_cast<int>(ty + 5));
    SelectObject(dc, oldBrush);
    DeleteObject(tipBrush);

    HPEN wave = Pen(look.wave, look.wide ? 4 : 3);
    SelectObject(dc, wave);
    for (int k = 1; k <= look.waves; ++k) {
        if (look.wide) {
            const double r = 38.0 * k;
            const double half = std::asin(std::min(1.0, 20 / r)) * 180 / kPi;
            ArcDegrees(dc, tx, ty + 6, r, -half, half);
            continue;
        }
        const double r = 7 + 7.0 * k;
        ArcDegrees(dc, tx, ty, r, -35, 35);
        if (look.bothSides) ArcDegrees(dc, tx, ty, r, 145, 215);
    }
    SelectObject(dc, old);
    DeleteObject(wave);
    DeleteObject(mast);
    if (look.crossed) {
        HPEN cross = Pen(RGB(0xD0, 0x10, 0x10), 5);
        old = SelectObject(dc, cross);
        Line(dc, tx - 18, ty - 4, tx + 18, ty + 32);
        Line(dc, tx + 18, ty - 4, tx - 18, ty + 32);
        SelectObject(dc, old);
        DeleteObject(cross);
    }
}

void DrawCaption(HDC dc, RECT box, const Look& look) {
    if (look.frame || look.fill) {
        HPEN pen = look.frame ? CreatePen(PS_SOLID, 2, look.frameColour) : nullptr;
        HBRUSH brush = look.fill ? CreateSolidBrush(look.fillColour) : nullptr;
        HGDIOBJ oldPen = SelectObject(dc, pen ? static_cast<HGDIOBJ>(pen) : GetStockObject(NULL_PEN));
        HGDIOBJ oldBrush = SelectObject(dc, brush ? static_cast<HGDIOBJ>(brush) : GetStockObject(NULL_BRUSH));
        RoundRect(dc, box.left, box.top, box.right, box.bottom, 16, 16);
        SelectObject(dc, oldPen);
        SelectObject(dc, oldBrush);
        if (pen) DeleteObject(pen);
        if (brush) DeleteObject(brush);
    }
    // The largest bold face up to 22 pixels at which the word fits its box.
    for (int size = 22; size >= 8; --size) {
        HFONT font = CreateFontW(-size, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, ANTIALIASED_QUALITY, 0, L"Arial");
        HGDIOBJ old = SelectObject(dc, font);
        SIZE extent{};
        GetTextExtentPoint32W(dc, look.text, static_cast<int>(wcslen(look.text)), &extent);
        if (extent.cx <= box.right - box.left - 12 || size == 8) {
            SetBkMode(dc, TRANSPARENT);
            SetTextColor(dc, look.textColour);
            DrawTextW(dc, look.text, -1, &box, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
            SelectObject(dc, old);
            DeleteObject(font);
            return;
        }
        SelectObject(dc, old);
        DeleteObject(font);
    }
}

HBITMAP Draw(const Look& look) {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, Win32Pictures::kWidth, Win32Pictures::kHeight);
    ReleaseDC(nullptr, screen);
    HGDIOBJ old = SelectObject(dc, bitmap);
    RECT all{0, 0, Win32Pictures::kWidth, Win32Pictures::kHeight};
    FillRect(dc, &all, GetSysColorBrush(COLOR_BTNFACE));  // the window shows through
    DrawAerial(dc, 40, 22, look);
    if (*look.text) DrawCaption(dc, RECT{84, 9, 218, 53}, look);
    SelectObject(dc, old);
    DeleteDC(dc);
    return bitmap;
}

const COLORREF kAmber = RGB(0xE0, 0x98, 0x00);
const COLORREF kGreen = RGB(0x1C, 0xB8, 0x1C);

}  // namespace

Win32Pictures::Win32Pictures() {
    Look initial;
    initial.mast = RGB(0x2A, 0x3A, 0x7A);
    initial.wave = RGB(0x70, 0x90, 0xD0);
    initial.waves = 2;
    initial.bothSides = true;
    initial.text = L"OVRIN-SERVER";
    initial.textColour = initial.mast;
    pictures_["initial"] = Draw(initial);

    Look off;
    off.mast = RGB(0x80, 0x80, 0x80);
    off.wave = RGB(0xB4, 0xB4, 0xB4);
    off.waves = 2;
    off.bothSides = off.crossed = true;
    off.text = L"OFF-LINE";
    off.textColour = RGB(0xB0, 0x10, 0x10);
    off.frame = true;
    off.frameColour = RGB(0x90, 0x90, 0x90);
    pictures_["wifi_off"] = Draw(off);

    for (int n = 1; n <= 4; ++n) {
        // No word: with a client connected these alternate with the on-line frames.
        Look listen;
        listen.mast = RGB(0x50, 0x50, 0x50);
        listen.wave = kAmber;
        listen.waves = n;
        listen.wide = true;
        pictures_["wifi_listen" + std::to_string(n)] = Draw(listen);

        Look online;
        online.mast = RGB(0x1E, 0x6E, 0x1E);
        online.wave = kGreen;
        online.waves = n;
        online.bothSides = true;
        online.text = L"ON-LINE";
        online.textColour = RGB(0xFF, 0xFF, 0xFF);
        online.fill = online.frame = true;
        online.fillColour = kGreen;
        online.frameColour = RGB(0x12, 0x80, 0x12);
        pictures_["wifi_online" + std::to_string(n)] = Draw(online);
    }
}

Win32Pictures::~Win32Pictures() {
    for (const auto& [key, bitmap] : pictures_) DeleteObject(bitmap);
}

HBITMAP Win32Pictures::Picture(const std::string& key) const {
    const auto found = pictures_.find(key);
    return found == pictures_.end() ? nullptr : found->second;
}

}  // namespace ovrin::win32
