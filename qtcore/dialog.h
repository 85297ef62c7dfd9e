#ifndef DIALOG_H
#define DIALOG_H

#include <lua.hpp>

#include <QDialog>

class QEventLoop;

// The toolkit's plain dialog (its class name stays "QDialog") with a modal run that always
// ends: the toolkit's own exec waits forever when the dialog is hidden while it shows, since
// hiding a hidden dialog no longer reaches the loop.
class Dialog : public QDialog
{
public:
    explicit Dialog(QWidget *parent);
    ~Dialog() override;

    // Shows the dialog modally until it is finished, hidden or destroyed; returns the result
    // code, and 0 for a dialog that died meanwhile. A finished dialog is deleted later.
    int run();
    void setVisible(bool visible) override;

private:
    QEventLoop *m_loop = nullptr;
    bool m_hidden = false;
};

const luaL_Reg *dialogFunctions();

#endif
