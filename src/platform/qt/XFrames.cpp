#include "platform/qt/XFrames.h"

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>
#include <cstdlib>
#include <xcb/xcb.h>

namespace ovrin::qt {
namespace {

struct Reply {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using ReplyOf = std::unique_ptr<T, Reply>;

// Whether the window's pixels are 32-bit words 0x00RRGGBB in the order this
// machine keeps them, as a QImage::Format_RGB32 row is: then a frame goes up as it is.
bool TakesRgb32(xcb_connection_t* c, xcb_window_t window, uint8_t* depth) {
    const ReplyOf<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr));
    const ReplyOf<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr));
    if (!geometry || !attributes || geometry->depth != 24) return false;
    const xcb_setup_t* setup = xcb_get_setup(c);
    const uint16_t probe = 1;
    const bool littleEndian = *reinterpret_cast<const uint8_t*>(&probe) == 1;
    if (setup->image_byte_order != (littleEndian ? XCB_IMAGE_ORDER_LSB_FIRST : XCB_IMAGE_ORDER_MSB_FIRST)) return false;
    bool words = false;
    for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f))
        if (f.data->depth == 24) words = f.data->bits_per_pixel == 32 && f.data->scanline_pad == 32;
    if (!words) return false;
    for (auto s = xcb_setup_roots_iterator(setup); s.rem; xcb_screen_next(&s))
        for (auto d = xcb_screen_allowed_depths_iterator(s.data); d.rem; xcb_depth_next(&d))
            for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v))
                if (v.data->visual_id == attributes->visual) {
                    *depth = geometry->depth;
                    return v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR && v.data->red_mask == 0xFF0000 &&
                           v.data->green_mask == 0xFF00 && v.data->blue_mask == 0xFF;
                }
    return false;
}

}  // namespace

std::unique_ptr<XFrames> XFrames::Over(QWidget& widget) {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    QWidget* top = widget.window();
    if (!x11 || !x11->connection() || !top->internalWinId()) return nullptr;
    if (!top->windowHandle() || top->windowHandle()->devicePixelRatio() != 1.0) return nullptr;
    xcb_connection_t* c = x11->connection();
    const auto parent = static_cast<xcb_window_t>(top->internalWinId());
    uint8_t depth = 0;
    if (!TakesRgb32(c, parent, &depth)) return nullptr;
    const QRect place(widget.mapTo(top, QPoint(0, 0)), widget.size());
    if (place.isEmpty() || xcb_get_maximum_request_length(c) * 4 < 64u + 4u * place.width() * place.height())
        return nullptr;
    const xcb_window_t window = xcb_generate_id(c);
    // No events selected: input goes to the window beneath; the server repaints
    // the background itself on every expose.
    const uint32_t values[] = {XCB_BACK_PIXMAP_NONE};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, parent, static_cast<int16_t>(place.x()),
                      static_cast<int16_t>(place.y()), static_cast<uint16_t>(place.width()),
                      static_cast<uint16_t>(place.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                      XCB_CW_BACK_PIXMAP, values);
    return std::unique_ptr<XFrames>(new XFrames(c, window, depth, place));
}

XFrames::XFrames(xcb_connection_t* c, uint32_t window, uint8_t depth, const QRect& place)
    : c_(c), window_(window), depth_(depth), place_(place) {}

XFrames::~XFrames() {
    Forget();
    xcb_destroy_window(c_, window_);
    xcb_flush(c_);
}

uint32_t XFrames::Upload(const QImage& composed) {
    const QImage frame = composed.convertToFormat(QImage::Format_RGB32);
    const xcb_pixmap_t pixmap = xcb_generate_id(c_);
    xcb_create_pixmap(c_, depth_, pixmap, window_, static_cast<uint16_t>(frame.width()),
                      static_cast<uint16_t>(frame.height()));
    const xcb_gcontext_t gc = xcb_generate_id(c_);
    xcb_create_gc(c_, gc, pixmap, 0, nullptr);
    // Rows of a Format_RGB32 image are whole words, as the server's are for this depth.
    xcb_put_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, gc, static_cast<uint16_t>(frame.width()),
                  static_cast<uint16_t>(frame.height()), 0, 0, 0, depth_,
                  static_cast<uint32_t>(frame.sizeInBytes()), frame.constBits());
    xcb_free_gc(c_, gc);
    return pixmap;
}

void XFrames::Show(int64_t key, const std::function<QImage()>& compose) {
    if (hasShown_ && key == shown_) return;
    auto it = pixmaps_.find(key);
    if (it == pixmaps_.end()) {
        const QImage frame = compose();
        if (frame.size() != place_.size()) return;
        it = pixmaps_.emplace(key, Upload(frame)).first;
    }
    xcb_change_window_attributes(c_, window_, XCB_CW_BACK_PIXMAP, &it->second);
    xcb_clear_area(c_, 0, window_, 0, 0, 0, 0);
    xcb_flush(c_);
    shown_ = key;
    hasShown_ = true;
}

void XFrames::Place(const QRect& inTopLevel) {
    if (inTopLevel == place_) return;
    const uint32_t values[] = {static_cast<uint32_t>(inTopLevel.x()), static_cast<uint32_t>(inTopLevel.y()),
                               static_cast<uint32_t>(std::max(1, inTopLevel.width())),
                               static_cast<uint32_t>(std::max(1, inTopLevel.height()))};
    xcb_configure_window(c_, window_,
                         XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                             XCB_CONFIG_WINDOW_HEIGHT,
                         values);
    if (inTopLevel.size() != place_.size()) Forget();
    place_ = inTopLevel;
    xcb_flush(c_);
}

void XFrames::SetVisible(bool visible) {
    if (visible)
        xcb_map_window(c_, window_);
    else
        xcb_unmap_window(c_, window_);
    xcb_flush(c_);
}

void XFrames::Forget() {
    const uint32_t none = XCB_BACK_PIXMAP_NONE;
    xcb_change_window_attributes(c_, window_, XCB_CW_BACK_PIXMAP, &none);
    for (const auto& [key, pixmap] : pixmaps_) xcb_free_pixmap(c_, pixmap);
    pixmaps_.clear();
    hasShown_ = false;
}

}  // namespace ovrin::qt
