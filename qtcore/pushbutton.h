#ifndef PUSHBUTTON_H
#define PUSHBUTTON_H

#include <lua.hpp>

#include <QPushButton>

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
    void paintEvent(QPaintEvent *event) override;
};

const luaL_Reg *pushbuttonFunctions();

#endif
