#include "loghandler.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include <cstdio>
#include <cstdlib>

static bool boxesEnabled = false;

void enableMessageBoxes()
{
    boxesEnabled = true;
}

// Message boxes need a finished widget application and its GUI thread; before that (a failure
// inside the application's own construction) and on any other thread the handler only writes.
static bool canshowbox()
{
    return boxesEnabled && qobject_cast<QApplication *>(QCoreApplication::instance()) &&
           QThread::currentThread() == QCoreApplication::instance()->thread();
}

void logMessageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    const QByteArray text = message.toLocal8Bit();
    switch (type) {
    case QtDebugMsg:
        printf("Debug: %s\n", text.constData());
        return;
    case QtWarningMsg:
        printf("Warning: %s\n", text.constData());
        return;
    case QtCriticalMsg:
        printf("Critical: %s\n", text.constData());
        fflush(stderr);
        fflush(stdout);
        if (canshowbox())
            QMessageBox::critical(QApplication::activeWindow(), "Critical Error", message,
                                  QMessageBox::Ok);
        QCoreApplication::quit();
        exit(-1);
    case QtFatalMsg:
        printf("Fatal: %s\n", text.constData());
        fflush(stdout);
        if (canshowbox())
            QMessageBox::critical(nullptr, "Fatal Error", message, QMessageBox::Ok);
        abort();
    default:
        return;
    }
}
