#include "platform/qt/StatusPictures.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>
#include <algorithm>
#include <cmath>

namespace ovrin::qt {
namespace {

// What distinguishes one picture from another.
struct Look {
    QColor mast;
    QColor wave;
    int waves = 0;           // radio-wave arcs drawn from the aerial's tip
    bool bothSides = false;  // on-line sends both ways
    bool wide = false;       // the waves spread over the caption's place
    bool crossed = false;    // off-line: a red cross over the aerial
    QString text;
    QColor textColour;
    QColor boxLine;          // invalid: no frame
    QColor boxFill;          // invalid: no fill
};

// An aerial on a small tripod with its waves; `unit` scales it (1 for the status
// pictures, smaller for the icon).
void DrawAerial(QPainter& p, QPointF tip, qreal unit, const Look& look) {
    const qreal mastLength = 34 * unit;
    QPen mastPen(look.mast, 3 * unit, Qt::SolidLine, Qt::RoundCap);
    p.setPen(mastPen);
    p.drawLine(tip, tip + QPointF(0, mastLength));
    p.drawLine(tip + QPointF(0, 14 * unit), tip + QPointF(-10 * unit, mastLength));
    p.drawLine(tip + QPointF(0, 14 * unit), tip + QPointF(10 * unit, mastLength));
    p.drawLine(tip + QPointF(-6 * unit, 24 * unit), tip + QPointF(6 * unit, 24 * unit));

    p.setPen(Qt::NoPen);
    p.setBrush(look.waves > 0 ? look.wave : look.mast);
    p.drawEllipse(tip, 4 * unit, 4 * unit);
    p.setBrush(Qt::NoBrush);

    if (look.wide) {
        // Arcs of one height, ever wider, reaching across the picture.
        p.setPen(QPen(look.wave, 4 * unit, Qt::SolidLine, Qt::RoundCap));
        const qreal halfHeight = 20 * unit;
        for (int k = 1; k <= look.waves; ++k) {
            const qreal r = 38 * k * unit;
            const QRectF ring(tip.x() - r, tip.y() + 6 * unit - r, 2 * r, 2 * r);
            const qreal degrees = qRadiansToDegrees(std::asin(std::min<qreal>(1, halfHeight / r)));
            p.drawArc(ring, qRound(-degrees * 16), qRound(2 * degrees * 16));
        }
        return;
    }
    p.setPen(QPen(look.wave, 3 * unit, Qt::SolidLine, Qt::RoundCap));
    for (int k = 1; k <= look.waves; ++k) {
        const qreal r = (7 + 7 * k) * unit;
        const QRectF ring(tip.x() - r, tip.y() - r, 2 * r, 2 * r);
        p.drawArc(ring, -35 * 16, 70 * 16);
        if (look.bothSides) p.drawArc(ring, 145 * 16, 70 * 16);
    }

    if (look.crossed) {
        p.setPen(QPen(QColor(0xD0, 0x10, 0x10), 5 * unit, Qt::SolidLine, Qt::RoundCap));
        const QPointF centre = tip + QPointF(0, 14 * unit);
        const qreal h = 18 * unit;
        p.drawLine(centre + QPointF(-h, -h), centre + QPointF(h, h));
        p.drawLine(centre + QPointF(h, -h), centre + QPointF(-h, h));
    }
}

void DrawCaption(QPainter& p, const QRectF& box, const Look& look) {
    if (look.boxFill.isValid() || look.boxLine.isValid()) {
        p.setPen(look.boxLine.isValid() ? QPen(look.boxLine, 2) : QPen(Qt::NoPen));
        p.setBrush(look.boxFill.isValid() ? QBrush(look.boxFill) : QBrush(Qt::NoBrush));
        p.drawRoundedRect(box, 8, 8);
        p.setBrush(Qt::NoBrush);
    }
    QFont font = p.font();
    font.setBold(true);
    font.setPixelSize(22);
    // Shrink until the word fits its box.
    while (font.pixelSize() > 8 && QFontMetricsF(font).horizontalAdvance(look.text) > box.width() - 12)
        font.setPixelSize(font.pixelSize() - 1);
    p.setFont(font);
    p.setPen(look.textColour);
    p.drawText(box, Qt::AlignCenter, look.text);
}

QPixmap DrawStatus(const Look& look) {
    // Drawn at the screen's scale, so a scaled desktop shows it sharp at its size.
    const qreal scale = qGuiApp->devicePixelRatio();
    QImage image(qCeil(StatusPictures::kWidth * scale), qCeil(StatusPictures::kHeight * scale),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::transparent);  // the mask colour: the window shows through
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    DrawAerial(p, QPointF(40, 22), 1.0, look);
    if (!look.text.isEmpty()) DrawCaption(p, QRectF(84, 9, 134, 44), look);
    p.end();
    return QPixmap::fromImage(image);
}

const QColor kAmber(0xE0, 0x98, 0x00);
const QColor kGreen(0x1C, 0xB8, 0x1C);

}  // namespace

std::vector<std::string> StatusPictures::Keys() {
    return {"initial",      "wifi_off",     "wifi_listen1", "wifi_listen2", "wifi_listen3",
            "wifi_listen4", "wifi_online1", "wifi_online2", "wifi_online3", "wifi_online4"};
}

StatusPictures::StatusPictures() {
    Look initial;
    initial.mast = QColor(0x2A, 0x3A, 0x7A);
    initial.wave = QColor(0x70, 0x90, 0xD0);
    initial.waves = 2;
    initial.bothSides = true;
    initial.text = QStringLiteral("OVRIN-SERVER");
    initial.textColour = initial.mast;
    pictures_["initial"] = DrawStatus(initial);

    Look off;
    off.mast = QColor(0x80, 0x80, 0x80);
    off.wave = QColor(0xB4, 0xB4, 0xB4);
    off.waves = 2;
    off.bothSides = true;
    off.crossed = true;
    off.text = QStringLiteral("OFF-LINE");
    off.textColour = QColor(0xB0, 0x10, 0x10);
    off.boxLine = QColor(0x90, 0x90, 0x90);
    pictures_["wifi_off"] = DrawStatus(off);

    for (int n = 1; n <= 4; ++n) {
        // No word: while a client is connected these frames alternate with the
        // on-line ones, and must not say anything else.
        Look listen;
        listen.mast = QColor(0x50, 0x50, 0x50);
        listen.wave = kAmber;
        listen.waves = n;
        listen.wide = true;
        pictures_["wifi_listen" + std::to_string(n)] = DrawStatus(listen);

        Look online;
        online.mast = QColor(0x1E, 0x6E, 0x1E);
        online.wave = kGreen;
        online.waves = n;
        online.bothSides = true;
        online.text = QStringLiteral("ON-LINE");
        online.textColour = Qt::white;
        online.boxFill = kGreen;
        online.boxLine = QColor(0x12, 0x80, 0x12);
        pictures_["wifi_online" + std::to_string(n)] = DrawStatus(online);
    }

    QImage icon(32, 32, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    {
        QPainter p(&icon);
        p.setRenderHint(QPainter::Antialiasing);
        Look look;
        look.mast = QColor(0x1E, 0x6E, 0x1E);
        look.wave = kGreen;
        look.waves = 2;
        look.bothSides = true;
        DrawAerial(p, QPointF(16, 9), 0.62, look);
    }
    icon_ = QIcon(QPixmap::fromImage(icon));
}

const QPixmap& StatusPictures::Picture(const std::string& key) const {
    const auto found = pictures_.find(key);
    return found == pictures_.end() ? none_ : found->second;
}

}  // namespace ovrin::qt
