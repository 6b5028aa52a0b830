#include "GuiGlyphs.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QPainterPath>
#include <QPixmap>

#include <functional>

namespace {

// Drawing happens on a 16 x 16 grid; larger pixmaps scale the painter.
using GlyphShape = std::function<void(QPainter&)>;

// The house's slate blue on light buttons; on the dark buttons of a dark
// style it would vanish, so there the glyph takes the buttons' text colour.
const QColor kGlyphColor(0x2b, 0x3a, 0x4a);

QColor GlyphColor()
{
    const QPalette palette = QGuiApplication::palette();
    const bool darkButtons = palette.color(QPalette::Button).lightness() < 128;
    return darkButtons ? palette.color(QPalette::ButtonText) : kGlyphColor;
}

QPixmap PaintGlyph(const GlyphShape& shape, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 16.0, size / 16.0);
    painter.setPen(Qt::NoPen);
    painter.setBrush(GlyphColor());
    shape(painter);
    return pixmap;
}

QIcon MakeGlyph(const GlyphShape& shape)
{
    QIcon icon;
    for (int size : {16, 24, 32, 48})
        icon.addPixmap(PaintGlyph(shape, size));
    return icon;
}

} // namespace

QIcon PlayGlyph()
{
    return MakeGlyph([](QPainter& painter) {
        QPainterPath triangle;
        triangle.moveTo(4.0, 2.5);
        triangle.lineTo(13.5, 8.0);
        triangle.lineTo(4.0, 13.5);
        triangle.closeSubpath();
        painter.drawPath(triangle);
    });
}

QIcon PauseGlyph()
{
    return MakeGlyph([](QPainter& painter) {
        painter.drawRoundedRect(QRectF(3.5, 2.5, 3.5, 11.0), 0.8, 0.8);
        painter.drawRoundedRect(QRectF(9.0, 2.5, 3.5, 11.0), 0.8, 0.8);
    });
}

QIcon StopGlyph()
{
    return MakeGlyph([](QPainter& painter) { painter.drawRoundedRect(QRectF(3.0, 3.0, 10.0, 10.0), 1.2, 1.2); });
}
