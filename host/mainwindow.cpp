#include "mainwindow.h"

#include "devices/bonjour.h"
#include "devices/footpedalcontroller.h"
#include "devices/serialport.h"
#include "luax/luax.h"
#include "luax/objecttracker.h"
#include "luax/qtcoremodule.h"
#include "media/audiorecorder.h"
#include "media/mediaplayer.h"
#include "modulelocator.h"
#include "qtcore/widget.h"
#include "switches.h"
#include "tabs/tabwidget.h"
#include "viewers/fdview.h"
#include "viewers/pdfview.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QStatusBar>
#include <QTimer>

#include <cstdio>

static MainWindow *mainWindow = nullptr;

// The native modules that require finds without searching. Each module adds its opener here.
static const luaL_Reg nativeModules[] = {
    {"pdf2.core", luaopen_pdf2_core},
    {"fdview.core", luaopen_fdview_core},
    {"bonjour.core", luaopen_bonjour_core},
    {"player.core", luaopen_player_core},
    {"serial.core", luaopen_serial_core},
    {"recorder.core", luaopen_recorder_core},
    {nullptr, nullptr},
};

static int lmainwindow_animate(lua_State *L)
{
    QWidget *widget = checkwidget(L, 2);
    int v[8];
    for (int i = 0; i < 8; ++i)
        v[i] = (i % 4) < 2 ? luaX_checkcoord(L, 3 + i) : luaX_checksize(L, 3 + i);
    const bool animate = luaX_optflag(L, 11);
    MainWindow::instance()->animator().animate(widget, QRect(v[0], v[1], v[2], v[3]),
                                               QRect(v[4], v[5], v[6], v[7]), animate);
    return 0;
}

static int lmainwindow_isAnimating(lua_State *L)
{
    QWidget *widget = checkwidget(L, 2);
    lua_pushboolean(L, MainWindow::instance()->animator().isAnimating(widget));
    return 1;
}

static int lmainwindow_tabWidgets(lua_State *L)
{
    const QList<TabWidget *> list = MainWindow::instance()->tabWidgets();
    printf("ltabWidgets---\n");
    lua_createtable(L, list.size(), 0);
    for (int i = 0; i < list.size(); ++i) {
        printf("tabWidget %p\n", static_cast<void *>(list.at(i)));
        luaX_pushobject(L, static_cast<QObject *>(list.at(i)), "TabWidget", LUAX_BORROWED);
        lua_rawseti(L, -2, i + 1);
    }
    return 1;
}

static int lmainwindow_setText(lua_State *L)
{
    MainWindow *window = MainWindow::instance();
    window->statusBar()->showMessage(luaX_checkqstring(L, 2));
    return 0;
}

static int lmainwindow_startFootPedal(lua_State *)
{
    MainWindow::instance()->footPedal()->start();
    return 0;
}

// The window owns the interpreter: destroying it closes it, as the close button does, once
// the event loop runs again. Unlike the class's other functions it examines argument 1, as
// QObject's destroy does.
static int lmainwindow_destroy(lua_State *L)
{
    auto *window =
        static_cast<MainWindow *>(static_cast<QObject *>(luaX_checkclass(L, 1, "MainWindow")));
    QMetaObject::invokeMethod(window, "close", Qt::QueuedConnection);
    return 0;
}

static const luaL_Reg mainwindow_functions[] = {
    {"animate", lmainwindow_animate},
    {"isAnimating", lmainwindow_isAnimating},
    {"tabWidgets", lmainwindow_tabWidgets},
    {"setText", lmainwindow_setText},
    {"startFootPedal", lmainwindow_startFootPedal},
    {"destroy", lmainwindow_destroy},
    {nullptr, nullptr},
};

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent)
{
    mainWindow = this;
    setupForm();
    m_central = new TabWidget(this);
    setCentralWidget(m_central);
    setStatusBar(new QStatusBar(this));
    // Before the bootstrap: the application's top-level code may already start the pedal.
    m_footPedal = new FootPedalController(this);
    connect(m_footPedal, &FootPedalController::pressed, this, &MainWindow::onFootpedalPressed);
    connect(m_footPedal, &FootPedalController::released, this, &MainWindow::onFootpedalReleased);
    bootstrap();
    m_stackTimer = new QTimer(this);
    m_stackTimer->setTimerType(Qt::PreciseTimer);
    m_stackTimer->setInterval(100);
    m_stackTimer->setSingleShot(true);
    connect(m_stackTimer, &QTimer::timeout, this, &MainWindow::onTimer);
    m_stackTimer->start();
    LuaMsgHandler(ObjectTracker::instance(L), nullptr, "onStartup", nullptr);
}

// The pedal stops first, so no press reaches a closing interpreter. Closing the interpreter
// then lets every handle die while the widgets still exist.
MainWindow::~MainWindow()
{
    m_footPedal->quit();
    lua_close(L);
    L = nullptr;
    if (mainWindow == this)
        mainWindow = nullptr;
}

MainWindow *MainWindow::instance()
{
    if (!mainWindow)
        new MainWindow;
    return mainWindow;
}

void MainWindow::setupForm()
{
    if (objectName().isEmpty())
        setObjectName("MainWindow");
    resize(837, 442);
    auto *placeholder = new QWidget(this);
    placeholder->setObjectName("centralWidget");
    setCentralWidget(placeholder);
    setWindowTitle(QCoreApplication::translate("MainWindow", "Vantor"));
}

void MainWindow::bootstrap()
{
    L = luaX_newstate();
    const QByteArray directory = QCoreApplication::applicationDirPath().toLocal8Bit();
    locateModules(L, directory.constData(), "bundle.bin", (directory + "/../..").constData(),
                  "?/init.lua;?.lua;modules", "?.so;modules");
    luaX_preload(L, nativeModules);
    luaL_requiref(L, "qt.core", luaopen_qt_core, 0);
    luaX_createclass(L, "MainWindow", mainwindow_functions, "QWidget", false, true);
    lua_pop(L, 1);
    luaX_pushobject(L, static_cast<QObject *>(this), "MainWindow", LUAX_BORROWED);
    lua_setglobal(L, "mainWindow");
    luaX_pushobject(L, static_cast<QObject *>(m_central.data()), "TabWidget", LUAX_BORROWED);
    lua_setglobal(L, "rootWidget");
    lua_pushboolean(L, settingsFlag());
    lua_setglobal(L, "wantSettings");
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    lua_pushstring(L, program.toLocal8Bit().constData());
    lua_setglobal(L, "applicationFileName");
    luaX_dostring(L, "_TARGET='qt'; require 'remote'", nullptr);
    fflush(stdout);
    fflush(stderr);
    lua_settop(L, 0);
}

// The central tab widget first (unless Lua destroyed it), then every other tab widget below
// the window, each before its own children.
QList<TabWidget *> MainWindow::tabWidgets() const
{
    QList<TabWidget *> list;
    if (m_central)
        list << m_central;
    for (TabWidget *tabs : findChildren<TabWidget *>())
        if (tabs != m_central)
            list << tabs;
    return list;
}

// Without a central tab widget the pages stay in the closed window.
void MainWindow::onClose(TabWidget *w)
{
    if (!m_central || w == m_central)
        return;
    for (QWidget *page : w->widgets()) {
        w->removeWidget(page);
        m_central->insertWidget(page, QRect());
    }
}

void MainWindow::onEmpty(TabWidget *w)
{
    if (w != m_central)
        w->close();
}

void MainWindow::onTimer()
{
    luaX_clearstack(L);
    m_stackTimer->start();
}

void MainWindow::onFootpedalPressed(int pedal)
{
    qDebug() << "onFootpedalPressed()" << pedal;
    LuaMsgHandler(ObjectTracker::instance(L), nullptr, "onFootPress", "%d", pedal);
}

void MainWindow::onFootpedalReleased(int pedal)
{
    qDebug() << "onFootpedalReleased()" << pedal;
    LuaMsgHandler(ObjectTracker::instance(L), nullptr, "onFootRelease", "%d", pedal);
}

// A deletion scheduled through the base class's destroy closes the window too.
bool MainWindow::event(QEvent *event)
{
    if (event->type() != QEvent::DeferredDelete)
        return QMainWindow::event(event);
    close();
    return true;
}

// The program ends with its main window, whatever other windows the application still shows.
void MainWindow::closeEvent(QCloseEvent *)
{
    if (m_closed)
        return;
    m_closed = true;
    LuaMsgHandler(ObjectTracker::instance(L), nullptr, "onShutdown", nullptr);
    QCoreApplication::quit();
}
