#include "tabbar.h"

#include "tabwidget.h"

#include <QApplication>
#include <QDrag>
#include <QDropEvent>
#include <QMimeData>
#include <QPainter>
#include <QPointer>
#include <QScreen>

static const char *const markerFormat = "action";
static const char *const markerData = "application/tab-detach";

TabBar::TabBar(QWidget *parent) : QTabBar(parent)
{
    setAcceptDrops(true);
    setElideMode(Qt::ElideRight);
    setSelectionBehaviorOnRemove(QTabBar::SelectLeftTab);
    setMovable(true);
}

bool TabBar::hasDetachMarker(const QMimeData *mime)
{
    return mime && mime->formats().contains(markerFormat) && mime->data(markerFormat) == markerData;
}

void TabBar::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        pressPoint = event->pos();
    dropPoint = QPoint();
    dragArmed = false;
    QTabBar::mousePressEvent(event);
}

// Arming needs a move close to the press; a first move already far away never arms.
void TabBar::mouseMoveEvent(QMouseEvent *event)
{
    if (!pressPoint.isNull() &&
        (event->pos() - pressPoint).manhattanLength() < QApplication::startDragDistance())
        dragArmed = true;
    if ((event->buttons() & Qt::LeftButton) && dragArmed && !geometry().contains(event->pos())) {
        detachDrag(event);
        return;
    }
    QTabBar::mouseMoveEvent(event);
}

void TabBar::detachDrag(QMouseEvent *event)
{
    // With no button held the base bar finishes any tab move it had begun.
    QMouseEvent released(QEvent::MouseMove, event->localPos(), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
    QTabBar::mouseMoveEvent(&released);

    QPointer<TabBar> self(this);
    QPointer<QDrag> drag = new QDrag(this);
    auto *mime = new QMimeData;
    mime->setData(markerFormat, markerData);
    drag->setMimeData(mime);
    drag->setPixmap(dragImage());
    const Qt::DropAction action = drag->exec(Qt::CopyAction | Qt::MoveAction);
    delete drag;
    if (!self || action != Qt::IgnoreAction)
        return;
    event->accept();
    if (currentIndex() >= 0)
        emit OnDetachTab(currentIndex(), dropPoint);
}

// The page's window as the screen shows it; where the platform cannot grab the screen
// (offscreen, Wayland) the page renders itself instead.
QPixmap TabBar::dragImage() const
{
    auto *tabs = qobject_cast<TabWidget *>(parentWidget());
    QWidget *page = tabs ? tabs->currentWidget() : nullptr;
    if (!page)
        return QPixmap();
    QPixmap shot;
    if (QGuiApplication::platformName() == "xcb" && page->screen())
        shot = page->screen()->grabWindow(page->effectiveWinId());
    if (shot.isNull())
        shot = page->grab();
    const QPixmap scaled = shot.scaled(640, 480, Qt::KeepAspectRatio, Qt::FastTransformation);
    QPixmap image(scaled.size());
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setOpacity(0.5);
    painter.drawPixmap(0, 0, scaled);
    painter.end();
    return image;
}

void TabBar::dragEnterEvent(QDragEnterEvent *event)
{
    if (hasDetachMarker(event->mimeData()))
        event->acceptProposedAction();
    QTabBar::dragEnterEvent(event);
}

// A tab dropped back on its own bar is refused, so the bar detaches it at the drop point.
void TabBar::dropEvent(QDropEvent *event)
{
    dropPoint = event->pos();
    QObject *source = event->source();
    if (!source || source == this) {
        QTabBar::dropEvent(event);
        return;
    }
    auto *from = qobject_cast<TabWidget *>(source->parent());
    auto *to = qobject_cast<TabWidget *>(parent());
    if (!from || !to)
        return;
    to->takeCurrentFrom(from);
    event->setDropAction(Qt::MoveAction);
    event->accept();
}
