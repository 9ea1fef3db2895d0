#include "platform/win32/Win32Pictures.h"

#include <cmath>
#include <variant>

#include "platform/shared/StatusShapes.h"
#include "platform/win32/Win32Text.h"

namespace ovrin::win32 {
namespace {

constexpr double kPi = 3.14159265358979323846;

int Round(double v) {
    return static_cast<int>(std::lround(v));
}

COLORREF ToRgb(shapes::Colour c) {
    return RGB(c.r, c.g, c.b);
}

HPEN Pen(shapes::Colour colour, double width) {
    LOGBRUSH brush{BS_SOLID, ToRgb(colour), 0};
    return ExtCreatePen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_ROUND | PS_JOIN_ROUND, static_cast<DWORD>(Round(width)),
                        &brush, 0, nullptr);
}

// Paints one shape of the shared drawing.
struct Painter {
    HDC dc;

    void operator()(const shapes::Line& l) const {
        HPEN pen = Pen(l.colour, l.width);
        HGDIOBJ old = SelectObject(dc, pen);
        MoveToEx(dc, Round(l.x0), Round(l.y0), nullptr);
        LineTo(dc, Round(l.x1), Round(l.y1));
        SelectObject(dc, old);
        DeleteObject(pen);
    }
    void operator()(const shapes::Dot& d) const {
        HBRUSH brush = CreateSolidBrush(ToRgb(d.colour));
        HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
        HGDIOBJ oldBrush = SelectObject(dc, brush);
        // Without a pen GDI leaves out the right and bottom edge: one more pixel.
        Ellipse(dc, static_cast<int>(d.x - d.radius), static_cast<int>(d.y - d.radius),
                static_cast<int>(d.x + d.radius + 1), static_cast<int>(d.y + d.radius + 1));
        SelectObject(dc, oldBrush);
        SelectObject(dc, oldPen);
        DeleteObject(brush);
    }
    void operator()(const shapes::Arc& a) const {
        const auto x = [&](double d) { return Round(a.x + a.radius * std::cos(d * kPi / 180)); };
        const auto y = [&](double d) { return Round(a.y - a.radius * std::sin(d * kPi / 180)); };
        const double to = a.from + a.span;
        HPEN pen = Pen(a.colour, a.width);
        HGDIOBJ old = SelectObject(dc, pen);
        SetArcDirection(dc, AD_COUNTERCLOCKWISE);
        Arc(dc, static_cast<int>(a.x - a.radius), static_cast<int>(a.y - a.radius), static_cast<int>(a.x + a.radius),
            static_cast<int>(a.y + a.radius), x(a.from), y(a.from), x(to), y(to));
        SelectObject(dc, old);
        DeleteObject(pen);
    }
    void operator()(const shapes::Caption& c) const {
        RECT box{Round(c.left), Round(c.top), Round(c.left + c.width), Round(c.top + c.height)};
        if (c.line || c.fill) {
            HPEN pen = c.line ? CreatePen(PS_SOLID, Round(c.kLineWidth), ToRgb(*c.line)) : nullptr;
            HBRUSH brush = c.fill ? CreateSolidBrush(ToRgb(*c.fill)) : nullptr;
            HGDIOBJ oldPen = SelectObject(dc, pen ? static_cast<HGDIOBJ>(pen) : GetStockObject(NULL_PEN));
            HGDIOBJ oldBrush = SelectObject(dc, brush ? static_cast<HGDIOBJ>(brush) : GetStockObject(NULL_BRUSH));
            const int corner = Round(2 * c.kCornerRadius);
            RoundRect(dc, box.left, box.top, box.right, box.bottom, corner, corner);
            SelectObject(dc, oldPen);
            SelectObject(dc, oldBrush);
            if (pen) DeleteObject(pen);
            if (brush) DeleteObject(brush);
        }
        const std::wstring text = Wide(c.text);
        for (int size = c.kLargestPx; size >= c.kSmallestPx; --size) {
            HFONT font = CreateFontW(-size, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, ANTIALIASED_QUALITY, 0, L"Arial");
            HGDIOBJ old = SelectObject(dc, font);
            SIZE extent{};
            GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
            const bool fits = extent.cx <= box.right - box.left - c.kMarginPx || size == c.kSmallestPx;
            if (fits) {
                SetBkMode(dc, TRANSPARENT);
                SetTextColor(dc, ToRgb(c.colour));
                DrawTextW(dc, text.c_str(), -1, &box, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
            }
            SelectObject(dc, old);
            DeleteObject(font);
            if (fits) return;
        }
    }
};

HBITMAP Render(const shapes::Picture& picture) {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, picture.width, picture.height);
    ReleaseDC(nullptr, screen);
    HGDIOBJ old = SelectObject(dc, bitmap);
    RECT all{0, 0, picture.width, picture.height};
    FillRect(dc, &all, GetSysColorBrush(COLOR_BTNFACE));  // the window shows through
    for (const shapes::Shape& shape : picture.shapes) std::visit(Painter{dc}, shape);
    SelectObject(dc, old);
    DeleteDC(dc);
    return bitmap;
}

}  // namespace

Win32Pictures::Win32Pictures() {
    for (const shapes::Picture& picture : shapes::StatusPictures()) pictures_[picture.key] = Render(picture);
}

Win32Pictures::~Win32Pictures() {
    for (const auto& [key, bitmap] : pictures_) DeleteObject(bitmap);
}

HBITMAP Win32Pictures::Picture(const std::string& key) const {
    const auto found = pictures_.find(key);
    return found == pictures_.end() ? nullptr : found->second;
}

}  // namespace ovrin::win32
