#include "stylepainter.h"

#include <QLinearGradient>
#include <QPainter>

#include <cstring>

namespace
{

struct Shades {
    QColor base;
    QColor light1;
    QColor light2;
};

// Two lighter shades of the base colour; how much lighter depends on how light it already is.
Shades shadesOf(const QColor &k)
{
    const int lightness = k.lightness();
    if (lightness == 0)
        return {QColor(0x26, 0x26, 0x26), QColor(0x35, 0x35, 0x35), QColor(0x6F, 0x6F, 0x6F)};
    if (lightness <= 100)
        return {k, k.lighter(115), k.lighter(140)};
    if (lightness <= 200)
        return {k, k.lighter(110), k.lighter(130)};
    return {k, k.lighter(105), k.lighter(120)};
}

QBrush vertical(const QRectF &rect, std::initializer_list<QGradientStop> stops)
{
    QLinearGradient gradient(rect.x(), rect.y(), rect.x(), rect.y() + rect.height());
    for (const QGradientStop &stop : stops)
        gradient.setColorAt(stop.first, stop.second);
    return QBrush(gradient);
}

bool is(const char *a, const char *b)
{
    return strcmp(a, b) == 0;
}

void outline(Style &style, int width, int radius, const QColor &pen)
{
    style.penWidth = width;
    style.radius = radius;
    style.pen = pen;
}

Style buttonStyle(const char *name, const char *state, bool disabled, const QColor &k,
                  const Shades &shades, const QRectF &rect)
{
    Style style;
    outline(style, 1, 3, QColor(0x33, 0x33, 0x33));
    if (is(name, "button.selected") && !disabled) {
        style.penWidth = 2;
        style.pen = QColor(0x00, 0xC0, 0x00);
    } else if (is(name, "button.warning") && !disabled) {
        style.penWidth = 2;
        style.pen = QColor(0xD0, 0x00, 0x00);
    } else if (disabled) {
        style.brush = k;
        return style;
    }
    if (is(state, "down"))
        style.brush = shades.light1;
    else if (is(name, "button.flat"))
        style.brush = k;
    else if (is(name, "button.cell"))
        style.brush = vertical(rect, {{0, shades.light2}, {0.5, shades.base}, {1, shades.light1}});
    else if (is(name, "button.highlight"))
        style.brush = vertical(
            rect,
            {{0, shades.light2.lighter(120)}, {0.5, shades.base}, {1, shades.light1.lighter(140)}});
    else {
        if (is(name, "button.compact"))
            style.radius = 0;
        style.brush = vertical(
            rect,
            {{0, Qt::white}, {0.05, shades.light2}, {0.49, shades.light1}, {0.5, shades.base}});
    }
    return style;
}

Style otherStyle(const char *name, bool disabled, const QColor &k, const Shades &shades,
                 const QRectF &rect)
{
    Style style;
    style.brush = k;
    if (is(name, "panel.gradient")) {
        outline(style, 1, 8, disabled ? QColor(0x33, 0x33, 0x33) : QColor(Qt::white));
        if (!disabled)
            style.brush =
                vertical(rect, {{0, shades.light1}, {0.05, shades.base}, {1, shades.light2}});
    } else if (is(name, "msgbox.panel")) {
        outline(style, 1, 0, Qt::white);
        style.brush = QColor(0x32, 0x32, 0x5A, 0xE6);
    } else if (is(name, "cell.panel")) {
        style.radius = 4;
    } else if (is(name, "timecode")) {
        outline(style, 1, 6, Qt::white);
    } else if (is(name, "textbox")) {
        style.brush = vertical(rect, {{0, Qt::white}, {0.05, shades.base}});
    } else if (is(name, "gradient") && !disabled) {
        style.brush = vertical(rect, {{0, shades.light1}, {0.05, shades.base}, {1, shades.light2}});
    }
    return style;
}

} // namespace

Style resolveStyle(const char *name, const char *state, QColor base, const QRectF &rect)
{
    const bool disabled = is(state, "disabled");
    if (disabled)
        base = QColor(Qt::darkGray);
    if (!*name) {
        Style style;
        style.brush = base;
        return style;
    }
    if (is(name, "panel")) {
        Style style;
        outline(style, 1, 8, disabled ? QColor(0x33, 0x33, 0x33) : QColor(Qt::white));
        style.brush = base;
        return style;
    }
    const Shades shades = shadesOf(base);
    if (name[0] == 'b')
        return buttonStyle(name, state, disabled, base, shades, rect);
    return otherStyle(name, disabled, base, shades, rect);
}

void paintStyle(QPainter *painter, const QRect &rect, const QColor &base, const char *name,
                const char *state)
{
    if (base.alpha() == 0)
        return;
    QRectF box(rect);
    const Style style = resolveStyle(name, state, base, box);
    painter->save();
    if (style.penWidth == 0 && style.radius == 0) {
        painter->fillRect(box, style.brush);
        painter->restore();
        return;
    }
    const int width = style.penWidth;
    // A hairline takes the fill's colours; a wider stroke is kept inside the box.
    QPen pen = width == 0 ? QPen(style.brush, 0) : QPen(QBrush(style.pen), width);
    if (width > 0) {
        const int e = width / 2;
        box =
            QRectF(rect.x() + e, rect.y() + e, rect.width() - width - e, rect.height() - width - e);
    }
    painter->setPen(pen);
    painter->setBrush(style.brush);
    // Qt 5.15 antialiases at its best quality with this hint alone; the old high-quality hint
    // is deprecated and ignored.
    painter->setRenderHint(QPainter::Antialiasing);
    if (style.radius != 0) {
        if (width % 2 == 1)
            box.translate(0.5, 0.5);
        painter->drawRoundedRect(box, style.radius, style.radius, Qt::AbsoluteSize);
    } else {
        painter->drawRect(box);
    }
    painter->restore();
}
