#ifndef TABWIDGET_H
#define TABWIDGET_H

#include <lua.hpp>

#include <QTabWidget>

class TabBar;

// A tab widget whose pages can be dragged between tab widgets and out into floating windows,
// which are tab widgets themselves.
class TabWidget : public QTabWidget
{
    Q_OBJECT

public:
    explicit TabWidget(QWidget *parent);
    ~TabWidget() override;

    void insertWidget(QWidget *page, const QRect &geometry);
    void removeWidget(QWidget *page);
    bool hasWidget(QWidget *page) const;
    bool isEmpty() const;
    QList<QWidget *> widgets() const;
    void setShowDropTarget(bool on);
    bool showsDropTarget() const { return showDropTarget; }
    void makeFloating();
    void takeCurrentFrom(TabWidget *source);

signals:
    void OnEmpty(TabWidget *tabWidget);
    void OnClose(TabWidget *tabWidget);

public slots:
    void MoveTab(int fromIndex, int toIndex);
    void DetachTab(int index, QPoint &dropPoint, QSize size = QSize());

protected:
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    bool fromOwnBar(const QDropEvent *event) const;

    TabBar *m_bar;
    bool showDropTarget = false;
    bool dragHover = false;
};

TabWidget *checktabwidget(lua_State *L, int index);
const luaL_Reg *tabwidgetFunctions();

#endif
