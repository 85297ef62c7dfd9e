#include "appearance.h"
#include "loghandler.h"
#include "mainwindow.h"
#include "singleinstance.h"
#include "switches.h"

#include <QApplication>
#include <QDebug>
#include <QMessageBox>
#include <QPointer>
#include <QSplashScreen>

#include <cstdio>

static const char *const applicationId = "com.vantor.orna32";
static const char *const instanceMessage = "VantorOrna32";

// The main window first (its interpreter goes with it), then the windows the application left
// without a parent, which nobody else would delete.
static void closeWindows(MainWindow *window)
{
    delete window;
    MainWindow::deleteLooseWindows();
}

int main(int argc, char **argv)
{
    if (wantsHelp(argc, argv)) {
        fputs(switchesHelp, stdout);
        return 0;
    }
    qInstallMessageHandler(logMessageHandler);
    QApplication app(argc, argv);
    // The program ends with its main window alone (which tells Lua first), not when the last
    // visible window closes while the main window is hidden.
    QApplication::setQuitOnLastWindowClosed(false);
    enableMessageBoxes();
    SingleInstance instance(applicationId);
    switch (instance.claim(instanceMessage, 5000)) {
    case SingleInstance::Running:
        break;
    case SingleInstance::Secondary:
        qDebug() << "Instance already running!";
        QMessageBox::warning(nullptr, "Vantor",
                             "Launch abandoned!\n\nAnother copy of the program is already running.",
                             QMessageBox::Ok);
        return 0;
    case SingleInstance::Unreachable:
        qDebug() << "Another copy holds the instance lock but does not answer; giving up.";
        return 0;
    }
    QObject::connect(&instance, &SingleInstance::messageReceived, [](const QString &message) {
        qDebug() << "Message from another instance:" << message;
    });

    QSplashScreen splash(splashPicture());
    splash.show();
    // Let the window system map and paint the splash before start-up keeps the thread busy.
    QCoreApplication::processEvents();
    applySwitches(app.arguments());
    loadStyleSheet();
    registerFonts();
    setIdentity();

    // The application may have closed its window during start-up: it has had its onShutdown.
    QPointer<MainWindow> window = MainWindow::instance();
    if (window->isClosed()) {
        closeWindows(window);
        return 0;
    }
    window->show();
    // One pass over the pending events usually exposes the window, so the splash's own wait
    // (which sleeps between polls) returns at once.
    QCoreApplication::processEvents();
    if (window->isVisible())
        splash.finish(window);
    else
        splash.close();
    instance.setActivationWindow(window);
    // The application may have closed its window already while the splash waited for it to
    // show; there is then no loop to run.
    const int result = window && window->isVisible() ? app.exec() : 0;
    closeWindows(window);
    return result;
}
