#include "pdfview.h"

#include "luax/luax.h"
#include "luax/objecttracker.h"
#include "luax/threadreaper.h"
#include "pagerenderer.h"
#include "qtcore/widget.h"
#include "viewermodule.h"

#include <QDebug>
#include <QFileInfo>
#include <QGestureEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QScroller>

#include <algorithm>
#include <cmath>
#include <cstdio>

// Pixels: every position in the document, and every sum of two of them, stays an int.
static const int largestDocument = 1 << 30;

PdfView::PdfView(QWidget *parent)
    : QAbstractScrollArea(parent), m_thread(new QThread), m_renderer(new PageRenderer)
{
    // A scroll bar that came and went with the zoom would change the width it is fitted to.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_renderer->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_renderer, &QObject::deleteLater);
    connect(m_renderer, &PageRenderer::opened, this, &PdfView::onOpened, Qt::QueuedConnection);
    connect(m_renderer, &PageRenderer::failed, this, &PdfView::onFailed, Qt::QueuedConnection);
    connect(m_renderer, &PageRenderer::rendered, this, &PdfView::onRendered, Qt::QueuedConnection);
    m_reloadTimer.setSingleShot(true);
    m_reloadTimer.setInterval(300);
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, &m_reloadTimer,
            QOverload<>::of(&QTimer::start));
    connect(&m_reloadTimer, &QTimer::timeout, this, &PdfView::reload);
    QScroller::grabGesture(viewport(), QScroller::TouchGesture);
    viewport()->grabGesture(Qt::PinchGesture);
    viewport()->grabGesture(Qt::TapGesture);
    m_thread->start();
}

// Two fingers zoom around their midpoint and leave fit-width; a double tap goes back to it.
// One finger is the scroller's: it drags and flicks the pages.
bool PdfView::viewportEvent(QEvent *event)
{
    if (event->type() != QEvent::Gesture)
        return QAbstractScrollArea::viewportEvent(event);
    auto *gestures = static_cast<QGestureEvent *>(event);
    auto *pinch = static_cast<QPinchGesture *>(gestures->gesture(Qt::PinchGesture));
    if (pinch && pinch->changeFlags() & QPinchGesture::ScaleFactorChanged)
        zoomAround(viewport()->mapFromGlobal(pinch->centerPoint().toPoint()), pinch->scaleFactor());
    auto *tap = static_cast<QTapGesture *>(gestures->gesture(Qt::TapGesture));
    if (tap && tap->state() == Qt::GestureFinished)
        noteTap(tap->position());
    event->accept();
    return true;
}

// The point under the fingers stays where it is (the gaps between pages aside).
void PdfView::zoomAround(const QPoint &at, double factor)
{
    if (m_sizes.isEmpty() || !(factor > 0))
        return;
    const double old = m_zoom;
    const QPointF document(horizontalScrollBar()->value() + at.x(),
                           verticalScrollBar()->value() + at.y());
    Position place = position();
    place.zoom = boundedZoom(old * factor);
    place.fitWidth = false;
    setPosition(place);
    const double ratio = m_zoom / old;
    horizontalScrollBar()->setValue(qRound(document.x() * ratio - at.x()));
    verticalScrollBar()->setValue(qRound(document.y() * ratio - at.y()));
}

// Two taps close together in time and place are a double tap.
void PdfView::noteTap(const QPointF &at)
{
    const bool second = m_lastTap.isValid() && m_lastTap.elapsed() < doubleTapMs &&
                        (at - m_lastTapAt).manhattanLength() < doubleTapDistance;
    m_lastTap.start();
    m_lastTapAt = at;
    if (!second)
        return;
    m_lastTap.invalidate();
    Position place = position();
    place.fitWidth = true;
    setPosition(place);
}

// A page still rendering is told to give up. A worker that does not stop at once (the library
// looks only now and then) is left to finish on its own: the thread and the renderer, with its
// document, are deleted when it does.
PdfView::~PdfView()
{
    ObjectTracker::release(this);
    QScroller::ungrabGesture(viewport());
    m_renderer->abortBelow(m_ticket + 1);
    if (!ThreadReaper::finish(m_thread, 200))
        qWarning("pdf2.core: a page of \"%s\" is still rendering; it is left to finish",
                 qUtf8Printable(m_path));
}

static QVector<QSizeF> fittingpages(const QVector<QSizeF> &sizes);

// The sizes are read here, so the place can be set at once; the worker loads its own copy.
void PdfView::open(const QString &path)
{
    ++m_generation;
    m_renderer->abortBelow(m_ticket + 1);
    m_path = path;
    m_pictures.clear();
    m_inFlight = -1;
    m_fitWidth = true;
    if (!m_watcher.files().isEmpty())
        m_watcher.removePaths(m_watcher.files());
    if (QFileInfo::exists(path))
        m_watcher.addPath(path);
    PageRenderer *renderer = m_renderer;
    const int generation = m_generation;
    QMetaObject::invokeMethod(
        renderer, [renderer, generation, path] { renderer->open(generation, path); },
        Qt::QueuedConnection);
    m_sizes = fittingpages(PageRenderer::readPageSizes(path));
    m_totalHeight = 0;
    for (const QSizeF &size : qAsConst(m_sizes))
        m_totalHeight += size.height();
    Position start;
    start.fitWidth = true;
    layoutPages();
    setPosition(start);
    viewport()->update();
}

// Overwritten or replaced by a new file: the same place, where the page is still there.
void PdfView::reload()
{
    const Position place = position();
    qWarning("pdf2.core: \"%s\" changed on disk; opened again", qUtf8Printable(m_path));
    open(m_path);
    if (!m_sizes.isEmpty() && place.page < pageCount())
        setPosition(place);
}

// Pages that would not fit into a view even at the smallest zoom are left out.
static QVector<QSizeF> fittingpages(const QVector<QSizeF> &sizes)
{
    QVector<QSizeF> pages;
    double height = 0;
    for (const QSizeF &size : sizes) {
        height += size.height() * PdfView::minZoom + PdfView::gap + 1;
        if (height > largestDocument)
            break;
        pages.append(size);
    }
    return pages;
}

void PdfView::onOpened(int generation)
{
    if (generation != m_generation)
        return;
    refresh();
    emit opened(pageCount());
}

void PdfView::onFailed(int generation, const QString &reason)
{
    if (generation != m_generation)
        return;
    qWarning("pdf2.core: cannot open \"%s\": %s", qUtf8Printable(m_path), qUtf8Printable(reason));
    emit openFailed(m_path);
}

// A picture for a zoom that has changed since still stands in until the right one comes.
void PdfView::onRendered(int generation, int page, double resolution, const QImage &image)
{
    if (generation != m_generation)
        return;
    if (page == m_inFlight)
        m_inFlight = -1;
    if (!hasPage(page))
        m_pictures.insert(page, Picture{image, resolution});
    refresh();
    emit pageRendered(page);
}

// Each page rounds its size up by half a pixel at most, and has a gap: the bound leaves room.
double PdfView::boundedZoom(double zoom) const
{
    const double room = largestDocument - (gap + 1.0) * (m_sizes.size() + 1);
    const double upper = std::min(maxZoom, room / m_totalHeight);
    return std::max(minZoom, std::min(zoom, upper));
}

// One wide or huge page among the others does not shrink them all.
double PdfView::fitZoom(int page) const
{
    return boundedZoom((viewport()->width() - 2 * gap) / m_sizes.at(page).width());
}

double PdfView::dpi() const
{
    return 72 * m_zoom * viewport()->devicePixelRatioF();
}

QSize PdfView::pixelSize(int page) const
{
    const QSizeF size = m_sizes.at(page) * m_zoom;
    return QSize(std::max(1, qRound(size.width())), std::max(1, qRound(size.height())));
}

void PdfView::layoutPages()
{
    m_tops.resize(m_sizes.size());
    int y = gap;
    int widest = 0;
    for (int page = 0; page < m_sizes.size(); ++page) {
        const QSize size = pixelSize(page);
        m_tops[page] = y;
        y += size.height() + gap;
        widest = std::max(widest, size.width());
    }
    m_documentHeight = y;
    m_documentWidth = widest + 2 * gap;
    const QSize view = viewport()->size();
    QScrollBar *vertical = verticalScrollBar();
    vertical->setRange(0, std::max(0, m_documentHeight - view.height()));
    vertical->setPageStep(view.height());
    vertical->setSingleStep(20);
    QScrollBar *horizontal = horizontalScrollBar();
    horizontal->setRange(0, std::max(0, m_documentWidth - view.width()));
    horizontal->setPageStep(view.width());
    horizontal->setSingleStep(20);
}

// A page's band is the gap above it and then the page itself.
int PdfView::pageAt(int y) const
{
    const auto after = std::upper_bound(m_tops.cbegin(), m_tops.cend(), y + gap);
    return std::max(0, int(after - m_tops.cbegin()) - 1);
}

int PdfView::currentPage() const
{
    return pageAt(verticalScrollBar()->value());
}

int PdfView::lastVisiblePage() const
{
    return pageAt(verticalScrollBar()->value() + viewport()->height() - 1);
}

bool PdfView::hasPage(int page) const
{
    const auto picture = m_pictures.constFind(page);
    return picture != m_pictures.cend() && picture->dpi == dpi();
}

// The visible pages top down, then the one after them, then the one before.
int PdfView::wantedPage() const
{
    const int first = currentPage();
    const int last = lastVisiblePage();
    for (int page = first; page <= last; ++page)
        if (!hasPage(page))
            return page;
    if (last + 1 < pageCount() && !hasPage(last + 1))
        return last + 1;
    if (first > 0 && !hasPage(first - 1))
        return first - 1;
    return -1;
}

bool PdfView::nearView(int page) const
{
    return page >= currentPage() - 1 && page <= lastVisiblePage() + 1;
}

void PdfView::dropFarPictures()
{
    const int first = currentPage() - 2;
    const int last = lastVisiblePage() + 2;
    for (auto picture = m_pictures.begin(); picture != m_pictures.end();) {
        if (picture.key() < first || picture.key() > last)
            picture = m_pictures.erase(picture);
        else
            ++picture;
    }
}

// One page at a time goes to the worker, so that what it renders next is always what the view
// wants most by then.
void PdfView::refresh()
{
    viewport()->update();
    if (m_sizes.isEmpty())
        return;
    dropFarPictures();
    if (m_inFlight >= 0 && wantedPage() != m_inFlight && !nearView(m_inFlight)) {
        m_renderer->abortBelow(m_ticket + 1);
        m_inFlight = -1;
    }
    if (m_inFlight >= 0)
        return;
    const int page = wantedPage();
    if (page < 0)
        return;
    m_inFlight = page;
    PageRenderer *renderer = m_renderer;
    const int generation = m_generation;
    const double resolution = dpi();
    const int ticket = ++m_ticket;
    QMetaObject::invokeMethod(
        renderer, [=] { renderer->render(generation, page, resolution, ticket); },
        Qt::QueuedConnection);
}

void PdfView::turnPage(int step)
{
    if (m_sizes.isEmpty())
        return;
    const int page = currentPage() + (step > 0 ? 1 : -1);
    if (page < 0 || page >= pageCount())
        return;
    verticalScrollBar()->setValue(m_tops.at(page) - gap);
}

PdfView::Position PdfView::position() const
{
    if (m_sizes.isEmpty())
        return Position();
    const int top = verticalScrollBar()->value();
    const int page = pageAt(top);
    return {page, horizontalScrollBar()->value(), top - (m_tops.at(page) - gap), m_zoom,
            m_fitWidth};
}

static int scaled(double pixels, double scale)
{
    return luaX_truncate(std::round(pixels * scale));
}

void PdfView::setPosition(const Position &position)
{
    if (m_sizes.isEmpty())
        return;
    const int page = qBound(0, position.page, pageCount() - 1);
    m_fitWidth = position.fitWidth || position.zoom <= 0;
    m_zoom = m_fitWidth ? fitZoom(page) : boundedZoom(position.zoom);
    const double scale = position.zoom > 0 ? m_zoom / position.zoom : 1.0;
    layoutPages();
    // The gap does not scale: only the part of the offset past it does.
    const qint64 top = position.y <= gap
                           ? qint64(m_tops.at(page)) - gap + position.y
                           : qint64(m_tops.at(page)) + scaled(double(position.y) - gap, scale);
    horizontalScrollBar()->setValue(scaled(position.x, scale));
    verticalScrollBar()->setValue(int(qBound<qint64>(0, top, largestDocument)));
    refresh();
}

QRect PdfView::pageRect(int page) const
{
    if (page < 0 || page >= pageCount())
        return QRect();
    const QSize size = pixelSize(page);
    const int width = std::max(m_documentWidth, viewport()->width());
    const int left = (width - size.width()) / 2 - horizontalScrollBar()->value();
    return QRect(QPoint(left, m_tops.at(page) - verticalScrollBar()->value()), size);
}

void PdfView::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    painter.fillRect(event->rect(), palette().dark());
    if (m_sizes.isEmpty())
        return;
    for (int page = currentPage(), last = lastVisiblePage(); page <= last; ++page) {
        const QRect rect = pageRect(page);
        painter.fillRect(rect, Qt::white);
        const auto picture = m_pictures.constFind(page);
        if (picture != m_pictures.cend() && !picture->image.isNull())
            painter.drawImage(rect, picture->image);
    }
}

// The view keeps showing the same place, and fits the new width if it did the old one.
void PdfView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    setPosition(position());
}

void PdfView::scrollContentsBy(int, int)
{
    refresh();
}

static const char *const className = "PDFXCviewAxLib::CoPDFXCview";

static PdfView *checkpdfview(lua_State *L, int index)
{
    return static_cast<PdfView *>(static_cast<QObject *>(luaX_checkclass(L, index, className)));
}

// Zero fits the width: the position of an empty view is all zeros, and going there is harmless.
static double checkzoom(lua_State *L, int index)
{
    const lua_Number zoom = luaL_checknumber(L, index);
    if (zoom != 0 && !(zoom >= PdfView::minZoom && zoom <= PdfView::maxZoom))
        luaL_argerror(L, index, "out of range");
    return zoom;
}

static int lpdfview_create(lua_State *L)
{
    auto *view = new PdfView(testwidget(L, 1));
    luaX_pushobject(L, static_cast<QObject *>(view), className, LUAX_BORROWED);
    view->setVisible(true);
    printf("[%s] [%s]\n", view->metaObject()->className(), className);
    return 1;
}

static int lpdfview_goto(lua_State *L)
{
    PdfView *view = checkpdfview(L, 1);
    luaL_checknumber(L, 2);
    PdfView::Position position;
    position.fitWidth = luaL_checknumber(L, 6) != 0;
    position.zoom = checkzoom(L, 5);
    position.y = luaX_checkint(L, 4);
    position.x = luaX_checkint(L, 3);
    position.page = luaX_checkint(L, 2);
    view->setPosition(position);
    return 0;
}

static int lpdfview_position(lua_State *L)
{
    const PdfView::Position position = checkpdfview(L, 1)->position();
    qDebug() << "vpos" << position.page << position.x << position.y << position.zoom
             << position.fitWidth;
    lua_pushinteger(L, position.page);
    lua_pushinteger(L, position.x);
    lua_pushinteger(L, position.y);
    lua_pushnumber(L, position.zoom);
    lua_pushnumber(L, position.fitWidth ? 1 : 0);
    return 5;
}

static int lpdfview_open(lua_State *L)
{
    PdfView *view = checkpdfview(L, 1);
    const char *path = luaX_checkname(L, 2);
    view->open(QString::fromUtf8(path));
    return 0;
}

static int lpdfview_pageCount(lua_State *L)
{
    lua_pushinteger(L, checkpdfview(L, 1)->pageCount());
    return 1;
}

static int lpdfview_scroll(lua_State *L)
{
    PdfView *view = checkpdfview(L, 1);
    view->turnPage(luaL_checkinteger(L, 2) > 0 ? 1 : -1);
    return 0;
}

static const luaL_Reg pdfview_functions[] = {
    {"create", lpdfview_create}, {"goto", lpdfview_goto},     {"position", lpdfview_position},
    {"open", lpdfview_open},     {"scroll", lpdfview_scroll}, {"pageCount", lpdfview_pageCount},
    {nullptr, nullptr},
};

int luaopen_pdf2_core(lua_State *L)
{
    return openViewerModule(L, className, pdfview_functions);
}
