#include "appearance.h"
#include "loghandler.h"
#include "mainwindow.h"
#include "singleinstance.h"
#include "switches.h"

#include <QApplication>
#include <QDebug>
#include <QMessageBox>
#include <QSplashScreen>

static const char *const applicationId = "com.vantor.orna32";
static const char *const instanceMessage = "VantorOrna32";

int main(int argc, char **argv)
{
    qInstallMessageHandler(logMessageHandler);
    QApplication app(argc, argv);
    SingleInstance instance(applicationId);
    if (instance.sendMessage(instanceMessage, 5000)) {
        qDebug() << "Instance already running!";
        QMessageBox::warning(nullptr, "Vantor",
                             "Launch abandoned!\n\nAnother copy of the program is already running.",
                             QMessageBox::Ok);
        return 0;
    }
    instance.listen();
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

    MainWindow *window = MainWindow::instance();
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
    const int result = window->isVisible() ? app.exec() : 0;
    delete window;
    return result;
}
