#pragma once
// A picture that changes many times a second, shown by the X server itself: each
// distinct frame is uploaded once into a server-side pixmap, and showing one is a
// change of a small child window's background (two requests, no reply). Painted
// through the toolkit, every frame costs a paint, an image upload and a round trip
// to the server; this way the animation costs next to nothing while a client is on.
//
// The child window selects no input, so clicks and pointer motion over it reach
// the toolkit's window beneath as if it were not there.
#include <QImage>
#include <QRect>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>

class QWidget;
struct xcb_connection_t;

namespace ovrin::qt {

class XFrames {
public:
    // A child of the widget's top-level window over the widget's rectangle; null
    // where the display is not an X server this can draw for (another display
    // system, another pixel layout, a scaled desktop): then paint as usual.
    static std::unique_ptr<XFrames> Over(QWidget& widget);
    ~XFrames();
    XFrames(const XFrames&) = delete;
    XFrames& operator=(const XFrames&) = delete;

    // Shows the frame known by key; compose makes it (at the rectangle's size)
    // the first time that key is shown.
    void Show(int64_t key, const std::function<QImage()>& compose);
    void Place(const QRect& inTopLevel);  // frames of another size are made again
    void SetVisible(bool visible);
    void Forget();  // the frames no longer look right (the colours changed)

private:
    XFrames(xcb_connection_t* c, uint32_t window, uint8_t depth, const QRect& place);
    uint32_t Upload(const QImage& frame);

    xcb_connection_t* c_;
    uint32_t window_;
    uint8_t depth_;
    QRect place_;
    std::map<int64_t, uint32_t> pixmaps_;
    int64_t shown_ = 0;
    bool hasShown_ = false;
};

}  // namespace ovrin::qt
