#include "appearance.h"

#include <QApplication>
#include <QDebug>
#include <QFile>
#include <QFontDatabase>
#include <QImageReader>
#include <QSettings>

// Beside the program, then the folder above it, then the embedded resources.
static QStringList searchDirectories()
{
    const QString directory = QCoreApplication::applicationDirPath();
    return {directory, directory + "/..", ":"};
}

// Read as the PNG it is: sniffing the format would load every image plugin first.
QPixmap splashPicture()
{
    Q_INIT_RESOURCE(resources);
    QImageReader reader(":splash.png", "png");
    reader.setAutoDetectImageFormat(false);
    return QPixmap::fromImageReader(&reader);
}

void loadStyleSheet()
{
    for (const QString &directory : searchDirectories()) {
        QFile file(directory + "/stylesheet.css");
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            continue;
        qApp->setStyleSheet(QString::fromUtf8(file.readAll()));
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

void registerFonts()
{
    static const char *const fonts[] = {"digital-7.ttf", "digital-7 (italic).ttf",
                                        "digital-7 (mono).ttf", "digital-7 (mono italic).ttf"};
    for (const char *font : fonts) {
        for (const QString &directory : searchDirectories())
            if (addFont(directory + "/" + font))
                break;
    }
}

void setIdentity()
{
    QCoreApplication::setOrganizationDomain("vantor.com");
    QCoreApplication::setOrganizationName("Vantor");
    QCoreApplication::setApplicationName("Remote");
    QCoreApplication::setApplicationVersion("0.5.0");
    QSettings::setDefaultFormat(QSettings::IniFormat);
}
