#include "graphic.h"

#include <QFile>
#include <QHash>
#include <QPaintDevice>
#include <QPainter>
#include <QSvgRenderer>

// Renderers live for the whole process; a name whose file is missing or broken maps to null and
// is never tried again.
static QHash<QString, QSvgRenderer *> cache;
static int loads = 0;

static void initresources()
{
    Q_INIT_RESOURCE(resources);
}

static QSvgRenderer *load(const QString &path)
{
    initresources();
    if (!QFile::exists(path))
        return nullptr;
    ++loads;
    auto *renderer = new QSvgRenderer(path);
    if (renderer->isValid())
        return renderer;
    delete renderer;
    return nullptr;
}

static QSvgRenderer *picture(const QString &name)
{
    auto it = cache.constFind(name);
    if (it == cache.constEnd())
        it = cache.insert(name, load(":images/" + name + ".svg"));
    return it.value();
}

static QSvgRenderer *sprites()
{
    static QSvgRenderer *sheet = load(":images/sprites.svg");
    return sheet;
}

static QRectF target(QPainter *painter, const QRect &rect)
{
    if (!rect.isEmpty() || !painter->device())
        return rect;
    return QRectF(0, 0, painter->device()->width(), painter->device()->height());
}

bool drawGraphic(QPainter *painter, const QString &name, const QRect &rect)
{
    if (QSvgRenderer *renderer = picture(name)) {
        if (painter->isActive())
            renderer->render(painter, target(painter, rect));
        return true;
    }
    const QString id = "fa-" + name;
    QSvgRenderer *sheet = sprites();
    if (!sheet || !sheet->elementExists(id))
        return false;
    if (painter->isActive())
        sheet->render(painter, id, target(painter, rect));
    return true;
}

int graphicLoads()
{
    return loads;
}
