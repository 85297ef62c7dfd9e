#include "loghandler.h"
#include "mainwindow.h"
#include "singleinstance.h"
#include "switches.h"

#include <QApplication>
#include <QDebug>
#include <QFile>
#include <QFontDatabase>
#include <QMessageBox>
#include <QSettings>
#include <QSplashScreen>

static const char *const applicationId = "com.vantor.orna32";
static const char *const instanceMessage = "VantorOrna32";

static QStringList searchDirectories()
{
    const QString directory = QCoreApplication::applicationDirPath();
    return {directory, directory + "/..", ":"};
}

static void loadStyleSheet(QApplication &app)
{
    for (const QString &directory : searchDirectories()) {
        QFile file(directory + "/stylesheet.css");
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            continue;
        app.setStyleSheet(QString::fromUtf8(file.readAll()));
        return;
    }
}

static bool addFont(const QString &path)
{
    const int id = QFontDatabase::addApplicationFont(path);
    if (id < 0)
        return false;
    for (const QString &family : QFontDatabase::applicationFontFamilies(id))
        qDebug() << family;
    return true;
}

static void registerFonts()
{
    static const char *const fonts[] = {"digital-7.ttf", "digital-7 (italic).ttf",
                                        "digital-7 (mono).ttf", "digital-7 (mono italic).ttf"};
    for (const char *font : fonts) {
        for (const QString &directory : searchDirectories())
            if (addFont(directory + "/" + font))
                break;
    }
}

static void setIdentity()
{
    QCoreApplication::setOrganizationDomain("vantor.com");
    QCoreApplication::setOrganizationName("Vantor");
    QCoreApplication::setApplicationName("Remote");
    QCoreApplication::setApplicationVersion("0.5.0");
    QSettings::setDefaultFormat(QSettings::IniFormat);
}

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

    Q_INIT_RESOURCE(resources);
    QSplashScreen splash(QPixmap(":splash.png"));
    splash.show();
    applySwitches(app.arguments());
    loadStyleSheet(app);
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
