#ifndef PUSHBUTTON_H
#define PUSHBUTTON_H

#include <lua.hpp>

#include <QPushButton>

class QTouchEvent;

// A real push button (focus, click, pressed state) whose face the Lua application paints.
class PushButton : public QPushButton
{
    Q_OBJECT

public:
    explicit PushButton(QWidget *parent = nullptr);
    ~PushButton() override;

public slots:
    void onClicked();

protected:
    bool event(QEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void touch(const QTouchEvent *event);

    // The finger that pressed the button, -1 while none does.
    int m_finger = -1;
};

const luaL_Reg *pushbuttonFunctions();

#endif
