// Installs the host's log handler and logs one message: logchild <debug|warning|info|critical|
// fatal> <text>. A message box that the handler opens is answered at once.
#include "host/loghandler.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

int main(int argc, char **argv)
{
    qInstallMessageHandler(logMessageHandler);
    QApplication app(argc, argv);
    if (argc < 3)
        return 2;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [] {
        if (QWidget *box = QApplication::activeModalWidget())
            box->close();
    });
    answer.start(10);
    const QByteArray level = argv[1];
    const char *text = argv[2];
    if (level == "debug")
        qDebug("%s", text);
    else if (level == "warning")
        qWarning("%s", text);
    else if (level == "info")
        qInfo("%s", text);
    else if (level == "critical")
        qCritical("%s", text);
    else if (level == "fatal")
        qFatal("%s", text);
    return 0;
}
