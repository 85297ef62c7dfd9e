#ifndef TESTDOCUMENT_H
#define TESTDOCUMENT_H

#include <QColor>
#include <QSizeF>
#include <QString>

// Writes a PDF whose pages (size in points) each carry a band of the page's own colour across
// the top, a black frame and the page number in large type.
bool writeTestDocument(const QString &path, int pageCount, const QSizeF &pageSize = {420, 595});
QColor testPageColor(int page);
// Whether two colours differ by at most the tolerance in each channel.
bool nearColor(const QColor &a, const QColor &b, int tolerance = 12);

#endif
