#ifndef GRAPHIC_H
#define GRAPHIC_H

#include <QRect>

class QPainter;

// Draws the picture ":images/<name>.svg", or else the sprite "fa-<name>" of the icon sheet,
// into the rectangle (an empty one means the whole device). False when neither exists.
bool drawGraphic(QPainter *painter, const QString &name, const QRect &rect);

// How many SVG files the graphic cache has parsed so far (each file at most once).
int graphicLoads();

#endif
