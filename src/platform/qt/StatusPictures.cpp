#include "platform/qt/StatusPictures.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QtMath>

#include "platform/shared/StatusShapes.h"

namespace ovrin::qt {
namespace {

QColor ToQ(shapes::Colour c) {
    return QColor(c.r, c.g, c.b);
}

// Paints one shape of the shared drawing.
struct Painter {
    QPainter& p;

    void operator()(const shapes::Line& l) const {
        p.setPen(QPen(ToQ(l.colour), l.width, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(l.x0, l.y0), QPointF(l.x1, l.y1));
    }
    void operator()(const shapes::Dot& d) const {
        p.setPen(Qt::NoPen);
        p.setBrush(ToQ(d.colour));
        p.drawEllipse(QPointF(d.x, d.y), d.radius, d.radius);
        p.setBrush(Qt::NoBrush);
    }
    void operator()(const shapes::Arc& a) const {
        p.setPen(QPen(ToQ(a.colour), a.width, Qt::SolidLine, Qt::RoundCap));
        const QRectF ring(a.x - a.radius, a.y - a.radius, 2 * a.radius, 2 * a.radius);
        p.drawArc(ring, qRound(a.from * 16), qRound(a.span * 16));
    }
    void operator()(const shapes::Caption& c) const {
        const QRectF box(c.left, c.top, c.width, c.height);
        if (c.line || c.fill) {
            p.setPen(c.line ? QPen(ToQ(*c.line), c.kLineWidth) : QPen(Qt::NoPen));
            p.setBrush(c.fill ? QBrush(ToQ(*c.fill)) : QBrush(Qt::NoBrush));
            p.drawRoundedRect(box, c.kCornerRadius, c.kCornerRadius);
            p.setBrush(Qt::NoBrush);
        }
        const QString text = QString::fromUtf8(c.text);
        QFont font = p.font();
        font.setBold(true);
        font.setPixelSize(c.kLargestPx);
        while (font.pixelSize() > c.kSmallestPx &&
               QFontMetricsF(font).horizontalAdvance(text) > box.width() - c.kMarginPx)
            font.setPixelSize(font.pixelSize() - 1);
        p.setFont(font);
        p.setPen(ToQ(c.colour));
        p.drawText(box, Qt::AlignCenter, text);
    }
};

// Drawn at `scale` device pixels to the pixel, so a scaled desktop shows it sharp.
QPixmap Render(const shapes::Picture& picture, qreal scale) {
    QImage image(qCeil(picture.width * scale), qCeil(picture.height * scale), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::transparent);  // the mask colour: the window shows through
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    for (const shapes::Shape& shape : picture.shapes) std::visit(Painter{p}, shape);
    p.end();
    return QPixmap::fromImage(image);
}

}  // namespace

StatusPictures::StatusPictures() {
    for (const shapes::Picture& picture : shapes::StatusPictures())
        pictures_[picture.key] = Render(picture, qGuiApp->devicePixelRatio());
    icon_ = QIcon(Render(shapes::WindowIcon(), 1));
}

const QPixmap& StatusPictures::Picture(const std::string& key) const {
    const auto found = pictures_.find(key);
    return found == pictures_.end() ? none_ : found->second;
}

}  // namespace ovrin::qt
