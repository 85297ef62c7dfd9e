#include "mainwindow.h"

#include "applicationwatcher.h"
#include "devices/footpedalcontroller.h"
#include "luax/luax.h"
#include "luax/objecttracker.h"
#include "luax/qtcoremodule.h"
#include "luax/scriptguard.h"
#include "modulelocator.h"
#include "nativemodule.h"
#include "qtcore/widget.h"
#include "scripterrors.h"
#include "switches.h"
#include "tabs/tabwidget.h"
#include "viewers/fdview.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QSplashScreen>
#include <QStatusBar>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <limits>
#include <utility>

static MainWindow *mainWindow = nullptr;

// The native modules that require finds without searching. Each module adds its opener here;
// those that bring heavy libraries are loaded from their own files when first required.
static const luaL_Reg nativeModules[] = {
    {"pdf2.core", NativeModule::open<NativeModule::Pdf2>},
    {"fdview.core", luaopen_fdview_core},
    {"bonjour.core", NativeModule::open<NativeModule::Bonjour>},
    {"player.core", NativeModule::open<NativeModule::Player>},
    {"serial.core", NativeModule::open<NativeModule::Serial>},
    {"recorder.core", NativeModule::open<NativeModule::Recorder>},
    {"net.core", NativeModule::open<NativeModule::Net>},
    {nullptr, nullptr},
};

static int lmainwindow_animate(lua_State *L)
{
    QWidget *widget = checkwidget(L, 2);
    int v[8];
    for (int i = 0; i < 8; ++i)
        v[i] = (i % 4) < 2 ? luaX_checkclamped(L, 3 + i, LUAX_MINCOORD, LUAX_MAXCOORD)
                           : luaX_checkclamped(L, 3 + i, -LUAX_MAXSIZE, LUAX_MAXSIZE);
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

// A budget is checked in full before either changes.
static int lmainwindow_setScriptTimeLimit(lua_State *L)
{
    const int callMs = luaX_checkrange(L, 2, 0, std::numeric_limits<int>::max());
    const int startMs =
        lua_isnoneornil(L, 3) ? -1 : luaX_checkrange(L, 3, 0, std::numeric_limits<int>::max());
    ScriptGuard::setLimits(MainWindow::instance()->state(), callMs, startMs);
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
    {"setScriptTimeLimit", lmainwindow_setScriptTimeLimit},
    {"startFootPedal", lmainwindow_startFootPedal},
    {"destroy", lmainwindow_destroy},
    {nullptr, nullptr},
};

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent)
{
    mainWindow = this;
    setupForm();
    setStatusBar(new QStatusBar(this));
    m_errors = new ScriptErrors(this);
    statusBar()->addPermanentWidget(m_errors, 1);
    luaX_seterrorhandler(&MainWindow::scriptError);
    // Before the bootstrap: the application's top-level code may already start the pedal.
    m_footPedal = new FootPedalController(this);
    connect(m_footPedal, &FootPedalController::pressed, this, &MainWindow::onFootpedalPressed);
    connect(m_footPedal, &FootPedalController::released, this, &MainWindow::onFootpedalReleased);
    connect(m_footPedal, &FootPedalController::connected, this,
            [this](const QString &product) { tellPedal("onFootConnected", product); });
    connect(m_footPedal, &FootPedalController::disconnected, this,
            [this](const QString &product) { tellPedal("onFootDisconnected", product); });
    m_stackTimer = new QTimer(this);
    m_stackTimer->setTimerType(Qt::PreciseTimer);
    m_stackTimer->setInterval(100);
    m_stackTimer->setSingleShot(true);
    connect(m_stackTimer, &QTimer::timeout, this, &MainWindow::onTimer);
    if (developmentMode()) {
        luaX_setfatalhandler(&MainWindow::fatal);
        m_watcher = new ApplicationWatcher(this);
        connect(m_watcher, &ApplicationWatcher::changed, this, &MainWindow::restartApplication);
        m_retry = new QTimer(this);
        m_retry->setSingleShot(true);
        connect(m_retry, &QTimer::timeout, this, &MainWindow::settle);
    }
    startApplication();
}

// The pedal stops first, so no press reaches a closing interpreter. Closing the interpreter
// then lets every handle die while the widgets still exist.
MainWindow::~MainWindow()
{
    m_footPedal->quit();
    if (L)
        lua_close(L);
    L = nullptr;
    if (m_watcher)
        luaX_setfatalhandler(nullptr);
    luaX_seterrorhandler(nullptr);
    if (mainWindow == this)
        mainWindow = nullptr;
}

void MainWindow::startApplication()
{
    m_central = new TabWidget(this);
    setCentralWidget(m_central);
    if (m_watcher)
        watchApplication();
    bootstrap();
    if (!m_failure.isEmpty()) {
        showFailure();
        return;
    }
    m_stackTimer->start();
    if (m_watcher)
        watchLoadedModules();
    tell("onStartup");
    ScriptGuard::setStarting(L, false);
}

void MainWindow::tell(const char *event)
{
    if (L)
        LuaMsgHandler(ObjectTracker::instance(L), nullptr, event, nullptr);
}

void MainWindow::deleteLooseWindows()
{
    QList<QPointer<QWidget>> windows;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (!widget->parent() && !qobject_cast<MainWindow *>(widget) &&
            !qobject_cast<QSplashScreen *>(widget))
            windows << widget;
    for (const QPointer<QWidget> &widget : qAsConst(windows))
        delete widget.data();
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
    ScriptGuard::setStarting(L, true);
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
    if (L)
        LuaMsgHandler(ObjectTracker::instance(L), nullptr, "onFootPress", "%d", pedal);
}

void MainWindow::tellPedal(const char *event, const QString &product)
{
    qDebug() << event << product;
    if (L)
        LuaMsgHandler(ObjectTracker::instance(L), nullptr, event, "%s",
                      product.toUtf8().constData());
}

void MainWindow::onFootpedalReleased(int pedal)
{
    qDebug() << "onFootpedalReleased()" << pedal;
    if (L)
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
    tell("onShutdown");
    QCoreApplication::quit();
}

// Where the host looks for the application: the bundle beside the program when there is one
// (loose files are then not read), else the folders above the program.
void MainWindow::watchApplication()
{
    const QString program = QCoreApplication::applicationDirPath();
    const QFileInfo bundle(program + "/bundle.bin");
    if (bundle.isFile() && bundle.size() > 0) {
        m_watcher->watch({}, {program});
        return;
    }
    const QString root = QDir::cleanPath(program + "/../..");
    m_watcher->watch({root + "/remote", root + "/modules"}, {program, root});
}

// Also the folders the loaded modules came from.
void MainWindow::watchLoadedModules()
{
    static const char *const loadedFolders = R"(
        local folders = {}
        for name in pairs(package.loaded) do
            local path = type(name) == 'string' and package.searchpath(name, package.path)
            folders[#folders + 1] = path and path:match('^(.*)/')
        end
        return table.concat(folders, '\n'))";
    const int top = lua_gettop(L);
    if (luaL_dostring(L, loadedFolders) == LUA_OK)
        m_watcher->addFolders(QString::fromLocal8Bit(lua_tostring(L, -1)).split('\n'));
    lua_settop(L, top);
}

// Nothing may run inside the interpreter, nor in a loop nested in the main one (a dialog, a
// drag), whose objects the restart would delete under it.
bool MainWindow::canRestart() const
{
    lua_Debug running;
    return QThread::currentThread()->loopLevel() <= 1 && !(L && lua_getstack(L, 0, &running));
}

// The interpreter goes, and with it everything the application made: the pages of the central
// tab widget, floating tab windows and other windows.
void MainWindow::closeApplication()
{
    m_stackTimer->stop();
    // Errors of the closing interpreter are no longer this application's to show.
    if (lua_State *closing = std::exchange(L, nullptr))
        lua_close(closing);
    luaX_sethalted(nullptr);
    for (QWidget *child : findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
        if (child != statusBar() && child != centralWidget())
            delete child;
    deleteLooseWindows();
    statusBar()->clearMessage();
    m_errors->dismiss();
}

// A save asks for a restart; it comes once nothing runs that the restart would pull away.
void MainWindow::restartApplication()
{
    m_restartWanted = true;
    settle();
}

// What development mode has waiting: first a failure to show, then a restart.
void MainWindow::settle()
{
    if (m_closed)
        return;
    if (!canRestart()) {
        m_retry->start(100);
        return;
    }
    m_retry->stop();
    if (!m_failure.isEmpty() && L)
        showFailure();
    if (m_restartWanted)
        restart();
}

void MainWindow::restart()
{
    qDebug() << "Restarting the application";
    if (m_failure.isEmpty())
        tell("onShutdown");
    // The application may have closed the window in its onShutdown; and what fails while the
    // old interpreter closes belongs to the old application. Saves made until now are read by
    // the new start.
    if (m_closed)
        return;
    closeApplication();
    m_failure.clear();
    m_restartWanted = false;
    startApplication();
}

// The report may come from inside a paint: the status bar changes once the event loop runs.
void MainWindow::scriptError(lua_State *L, const char *callback, const char *message)
{
    MainWindow *window = mainWindow;
    if (!window || L != window->L)
        return;
    const QPointer<ScriptErrors> errors = window->m_errors;
    const QString name = QString::fromUtf8(callback);
    const QString text = QString::fromLocal8Bit(message);
    QMetaObject::invokeMethod(
        window,
        [errors, name, text] {
            if (!errors)
                return;
            errors->add(name, text);
            qDebug().noquote() << "The window shows:" << errors->text();
        },
        Qt::QueuedConnection);
}

// An error that would end the program halts the application at once and shows itself in the
// window as soon as nothing runs, until a save starts the application again.
void MainWindow::fatal(lua_State *, const char *message)
{
    MainWindow *window = mainWindow;
    if (!window || !window->m_failure.isEmpty())
        return;
    luaX_sethalted(window->L);
    window->m_failure = QString::fromLocal8Bit(message ? message : "(no error message)");
    window->m_retry->start(0);
}

// The status bar has one line: the reason, without the traceback, and for a module that would not
// load without the line that only names the module and its file.
static QString failureReason(const QString &failure)
{
    QString reason = failure.section(QLatin1String("\nstack traceback:"), 0, 0);
    if (reason.startsWith(QLatin1String("error loading module")) && reason.contains(":\n"))
        reason = reason.section(QLatin1String(":\n"), 1);
    return reason.simplified();
}

void MainWindow::showFailure()
{
    closeApplication();
    auto *report = new QPlainTextEdit(this);
    report->setObjectName("failure");
    report->setReadOnly(true);
    report->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    report->setPlainText("The application stopped with an error. Save one of its files to start "
                         "it again.\n\n" +
                         m_failure);
    setCentralWidget(report);
    const QString status = "Stopped: " + failureReason(m_failure);
    qDebug().noquote() << "The application stopped; its error is shown in the window:" << status;
    statusBar()->showMessage(status);
}
