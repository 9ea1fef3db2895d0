#pragma once
// What the status pictures (imgConn's, by key) and the window icon show, as shapes
// that both programs paint alike: the Qt one with QPainter, the Windows one with
// GDI. An aerial on a small tripod sends its waves: grey and crossed out while
// Off-line, amber arcs spreading while listening (no word: with a client these
// frames alternate with the on-line ones), green both ways under "ON-LINE".
// Pixels of the picture, y downwards; angles in degrees anticlockwise from three
// o'clock as seen on the screen.
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace ovrin::shapes {

struct Colour {
    uint8_t r, g, b;
};

// Strokes have round ends.
struct Line {
    double x0, y0, x1, y1;
    Colour colour;
    double width;
};
struct Dot {  // a filled circle
    double x, y, radius;
    Colour colour;
};
struct Arc {
    double x, y, radius, from, span;
    Colour colour;
    double width;
};
// A word centred in a box with rounded corners, outlined and filled when given: in
// bold, the largest size up to kLargestPx at which it fits the box less kMarginPx,
// but not below kSmallestPx.
struct Caption {
    double left, top, width, height;
    std::optional<Colour> line, fill;
    const char* text;
    Colour colour;
    static constexpr double kCornerRadius = 8, kLineWidth = 2;
    static constexpr int kLargestPx = 22, kSmallestPx = 8, kMarginPx = 12;
};

using Shape = std::variant<Line, Dot, Arc, Caption>;

struct Picture {
    std::string key;
    int width, height;
    std::vector<Shape> shapes;  // in painting order, on a background of the window's
};

inline constexpr int kStatusWidth = 224;
inline constexpr int kStatusHeight = 62;

// "initial", "wifi_off", "wifi_listen1".."wifi_listen4", "wifi_online1".."wifi_online4".
std::vector<Picture> StatusPictures();
// 32 x 32, the on-line aerial alone.
Picture WindowIcon();

}  // namespace ovrin::shapes
