#ifndef STYLEPAINTER_H
#define STYLEPAINTER_H

#include <QBrush>
#include <QColor>
#include <QRect>

class QPainter;

// What a named look comes down to: a fill, an outline of some width and a corner radius.
struct Style {
    QBrush brush;
    int penWidth = 0;
    int radius = 0;
    QColor pen = Qt::red;
};

// Resolves style name and state word for base colour K over the rectangle R (gradients run from
// its top to its bottom).
Style resolveStyle(const char *name, const char *state, QColor base, const QRectF &rect);

// Fills the rectangle in the named look; a fully transparent base colour draws nothing.
void paintStyle(QPainter *painter, const QRect &rect, const QColor &base, const char *name,
                const char *state);

#endif
