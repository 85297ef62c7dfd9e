#include "widgetanimator.h"

#include <QEasingCurve>
#include <QParallelAnimationGroup>
#include <QVariantAnimation>
#include <QWidget>

static bool isnull(const QRect &rect)
{
    return rect.width() == 0 && rect.height() == 0;
}

// The widget takes the size of from at once; only its position moves. An unusable target sends
// a child out of sight above and left of its parent.
void WidgetAnimator::animate(QWidget *widget, const QRect &from, const QRect &to, bool animate)
{
    QRect current = widget->geometry();
    if (current.right() < 0 || current.bottom() < 0)
        current = QRect(0, 0, 0, 0);
    const bool timed = animate && !isnull(current) && !isnull(to);
    const QRect final =
        to.isValid() || widget->isWindow()
            ? to
            : QRect(QPoint(-500 - widget->width(), -500 - widget->height()), widget->size());
    auto *group = new QParallelAnimationGroup(widget);
    // A property animation would stop any other one on the same widget's position as it
    // starts; this one moves the widget itself, so an older slide keeps running to its end.
    auto *slide = new QVariantAnimation(widget);
    slide->setDuration(timed ? 500 : 0);
    slide->setEasingCurve(QEasingCurve::OutQuad);
    slide->setStartValue(from.topLeft());
    slide->setEndValue(final.topLeft());
    connect(slide, &QVariantAnimation::valueChanged, widget,
            [widget](const QVariant &position) { widget->move(position.toPoint()); });
    // A slide of no duration reports no value on its way: it lands when it finishes.
    const QPoint end = final.topLeft();
    connect(slide, &QAbstractAnimation::finished, widget, [widget, end] { widget->move(end); });
    group->addAnimation(slide);
    m_animations.insert(widget, group);
    widget->move(from.topLeft());
    widget->resize(from.size());
    connect(group, &QAbstractAnimation::finished, this, &WidgetAnimator::animationFinished);
    group->start(QAbstractAnimation::DeleteWhenStopped);
}

bool WidgetAnimator::isAnimating(QWidget *widget) const
{
    // An animation belongs to its widget: a widget that died took it along, and a new widget
    // made at the same address is not animating.
    return m_animations.value(widget);
}

void WidgetAnimator::abort(QWidget *widget)
{
    const auto it = m_animations.find(widget);
    if (it == m_animations.end())
        return;
    const QPointer<QAbstractAnimation> group = it.value();
    m_animations.erase(it);
    if (group)
        group->stop();
}

// The group that finished may be older than the widget's latest one, which then stops as well.
void WidgetAnimator::animationFinished()
{
    auto *animation = qobject_cast<QAbstractAnimation *>(sender());
    if (!animation)
        return;
    if (auto *widget = qobject_cast<QWidget *>(animation->parent()))
        abort(widget);
}
