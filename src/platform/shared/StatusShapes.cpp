#include "platform/shared/StatusShapes.h"

#include <algorithm>
#include <cmath>

namespace ovrin::shapes {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr Colour kAmber{0xE0, 0x98, 0x00};
constexpr Colour kGreen{0x1C, 0xB8, 0x1C};
constexpr Colour kDarkGreen{0x1E, 0x6E, 0x1E};
constexpr Colour kCross{0xD0, 0x10, 0x10};

// What distinguishes one picture from another.
struct Look {
    Colour mast{}, wave{};
    int waves = 0;           // arcs drawn from the aerial's tip
    bool bothSides = false;  // on-line sends both ways
    bool wide = false;       // the waves spread over the caption's place
    bool crossed = false;    // off-line: a red cross over the aerial
    const char* text = "";
    Colour textColour{};
    std::optional<Colour> boxLine{}, boxFill{};
};

// The aerial with its tip at (x, y); `unit` scales it (1 for the status pictures).
void Aerial(std::vector<Shape>& out, double x, double y, double unit, const Look& look) {
    const double mast = 34 * unit, width = 3 * unit;
    out.push_back(Line{x, y, x, y + mast, look.mast, width});
    out.push_back(Line{x, y + 14 * unit, x - 10 * unit, y + mast, look.mast, width});
    out.push_back(Line{x, y + 14 * unit, x + 10 * unit, y + mast, look.mast, width});
    out.push_back(Line{x - 6 * unit, y + 24 * unit, x + 6 * unit, y + 24 * unit, look.mast, width});
    out.push_back(Dot{x, y, 4 * unit, look.waves > 0 ? look.wave : look.mast});
    for (int k = 1; k <= look.waves; ++k) {
        if (look.wide) {
            // Arcs of one height, ever wider, reaching across the picture.
            const double r = 38 * k * unit;
            const double half = std::asin(std::min(1.0, 20 * unit / r)) * (180 / kPi);
            out.push_back(Arc{x, y + 6 * unit, r, -half, 2 * half, look.wave, 4 * unit});
            continue;
        }
        const double r = (7 + 7 * k) * unit;
        out.push_back(Arc{x, y, r, -35, 70, look.wave, width});
        if (look.bothSides) out.push_back(Arc{x, y, r, 145, 70, look.wave, width});
    }
    if (look.crossed) {
        const double cy = y + 14 * unit, h = 18 * unit;
        out.push_back(Line{x - h, cy - h, x + h, cy + h, kCross, 5 * unit});
        out.push_back(Line{x + h, cy - h, x - h, cy + h, kCross, 5 * unit});
    }
}

Picture Status(std::string key, const Look& look) {
    Picture picture{std::move(key), kStatusWidth, kStatusHeight, {}};
    Aerial(picture.shapes, 40, 22, 1, look);
    if (*look.text)
        picture.shapes.push_back(Caption{84, 9, 134, 44, look.boxLine, look.boxFill, look.text, look.textColour});
    return picture;
}

}  // namespace

std::vector<Picture> StatusPictures() {
    constexpr Colour kBlue{0x2A, 0x3A, 0x7A};
    std::vector<Picture> pictures;
    pictures.push_back(Status("initial", {.mast = kBlue, .wave = {0x70, 0x90, 0xD0}, .waves = 2, .bothSides = true,
                                          .text = "OVRIN-SERVER", .textColour = kBlue}));
    pictures.push_back(Status("wifi_off", {.mast = {0x80, 0x80, 0x80}, .wave = {0xB4, 0xB4, 0xB4}, .waves = 2,
                                           .bothSides = true, .crossed = true, .text = "OFF-LINE",
                                           .textColour = {0xB0, 0x10, 0x10}, .boxLine = Colour{0x90, 0x90, 0x90}}));
    for (int n = 1; n <= 4; ++n)
        pictures.push_back(
            Status("wifi_listen" + std::to_string(n), {.mast = {0x50, 0x50, 0x50}, .wave = kAmber, .waves = n, .wide = true}));
    for (int n = 1; n <= 4; ++n)
        pictures.push_back(Status("wifi_online" + std::to_string(n),
                                  {.mast = kDarkGreen, .wave = kGreen, .waves = n, .bothSides = true, .text = "ON-LINE",
                                   .textColour = {0xFF, 0xFF, 0xFF}, .boxLine = Colour{0x12, 0x80, 0x12},
                                   .boxFill = kGreen}));
    return pictures;
}

Picture WindowIcon() {
    Picture icon{"icon", 32, 32, {}};
    Aerial(icon.shapes, 16, 9, 0.62, {.mast = kDarkGreen, .wave = kGreen, .waves = 2, .bothSides = true});
    return icon;
}

}  // namespace ovrin::shapes
