#ifndef WIDGETANIMATOR_H
#define WIDGETANIMATOR_H

#include <QMap>
#include <QObject>
#include <QPointer>

class QAbstractAnimation;
class QWidget;

// Slides widgets to new positions with a short eased animation, remembering per widget the
// animation last started for it.
class WidgetAnimator : public QObject
{
    Q_OBJECT

public:
    void animate(QWidget *widget, const QRect &from, const QRect &to, bool animate);
    bool isAnimating(QWidget *widget) const;
    void abort(QWidget *widget);

private slots:
    void animationFinished();

private:
    QMap<QWidget *, QPointer<QAbstractAnimation>> m_animations;
};

#endif
