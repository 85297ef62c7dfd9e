#ifndef TABBAR_H
#define TABBAR_H

#include <QTabBar>

class QMimeData;

// A tab bar whose tabs can be dragged out: onto another tab widget, or anywhere else to open
// in a floating window of their own.
class TabBar : public QTabBar
{
    Q_OBJECT

public:
    explicit TabBar(QWidget *parent);

    static bool hasDetachMarker(const QMimeData *mime);

signals:
    void OnDetachTab(int index, QPoint &dropPoint);
    void OnMoveTab(int fromIndex, int toIndex);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void detachDrag(QMouseEvent *event);
    QPixmap dragImage() const;

    QPoint pressPoint;
    QPoint dropPoint;
    bool dragArmed = false;
};

#endif
