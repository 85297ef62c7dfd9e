#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include <lua.hpp>

#include <QMainWindow>
#include <QPointer>

#include "tabs/widgetanimator.h"

class ApplicationWatcher;
class FootPedalController;
class QTimer;
class ScriptErrors;
class TabWidget;

// The program's window and the owner of the Lua interpreter: a central tab widget, a status
// bar, and the Lua application started from its constructor.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    static MainWindow *instance();
    // Deletes the windows without a parent that the application left, which nobody else would
    // delete (not the main window, nor the splash).
    static void deleteLooseWindows();

    lua_State *state() const { return L; }
    // True once the window has accepted a close, possibly before it was ever shown.
    bool isClosed() const { return m_closed; }
    WidgetAnimator &animator() { return m_animator; }
    FootPedalController *footPedal() const { return m_footPedal; }
    QList<TabWidget *> tabWidgets() const;
    // In development mode: the error that stopped the application, empty while it runs.
    QString failure() const { return m_failure; }

public slots:
    void onClose(TabWidget *w);
    void onEmpty(TabWidget *w);

private slots:
    void onTimer();
    void onFootpedalPressed(int pedal);
    void onFootpedalReleased(int pedal);
    void restartApplication();
    void settle();

protected:
    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void setupForm();
    void startApplication();
    // Sends an event without arguments to the application, if one runs.
    void tell(const char *event);
    void tellPedal(const char *event, const QString &product);
    void bootstrap();
    void watchApplication();
    void watchLoadedModules();
    void closeApplication();
    void restart();
    void showFailure();
    bool canRestart() const;
    static void fatal(lua_State *L, const char *message);
    static void scriptError(lua_State *L, const char *callback, const char *message);

    lua_State *L = nullptr;
    // The central tab widget; Lua may destroy it.
    QPointer<TabWidget> m_central;
    QTimer *m_stackTimer = nullptr;
    bool m_closed = false;
    WidgetAnimator m_animator;
    FootPedalController *m_footPedal = nullptr;
    ApplicationWatcher *m_watcher = nullptr;
    QTimer *m_retry = nullptr;
    QString m_failure;
    ScriptErrors *m_errors = nullptr;
    bool m_restartWanted = false;
};

#endif
