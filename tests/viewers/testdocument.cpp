#include "testdocument.h"

#include <QPainter>
#include <QPdfWriter>

#include <cstdlib>

// The height of the coloured band, in points.
static const double bandHeight = 80;

QColor testPageColor(int page)
{
    return QColor::fromHsv((page * 47) % 360, 220, 230);
}

bool nearColor(const QColor &a, const QColor &b, int tolerance)
{
    return std::abs(a.red() - b.red()) <= tolerance &&
           std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

bool writeTestDocument(const QString &path, int pageCount, const QSizeF &pageSize)
{
    QPdfWriter writer(path);
    writer.setResolution(72);
    writer.setPageSize(QPageSize(pageSize, QPageSize::Point, QString(), QPageSize::ExactMatch));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Point);
    QPainter painter;
    if (!painter.begin(&writer))
        return false;
    QFont font("DejaVu Sans");
    font.setPixelSize(48);
    painter.setFont(font);
    const QRectF page(QPointF(0, 0), pageSize);
    for (int index = 0; index < pageCount; ++index) {
        if (index > 0)
            writer.newPage();
        painter.fillRect(QRectF(0, 0, pageSize.width(), bandHeight), testPageColor(index));
        painter.setPen(QPen(Qt::black, 4));
        painter.drawRect(page.adjusted(2, 2, -2, -2));
        painter.drawText(page, Qt::AlignCenter, QString("Page %1").arg(index + 1));
    }
    return painter.end();
}
