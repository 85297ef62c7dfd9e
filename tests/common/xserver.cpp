#include "xserver.h"

#include "hosttree.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

XServer::~XServer()
{
    m_process.terminate();
    m_process.waitForFinished();
}

// Takes the first free display; a server that dies at once lost a race for its number.
bool XServer::start()
{
    for (int number = 90; number < 190; ++number) {
        const QString socket = QString("/tmp/.X11-unix/X%1").arg(number);
        if (QFile::exists(socket))
            continue;
        m_display = QString(":%1").arg(number);
        m_process.start("Xvfb", {m_display, "-nolisten", "tcp", "-screen", "0", "1280x1024x24"});
        if (!m_process.waitForStarted())
            return false;
        const QDeadlineTimer deadline(10000);
        while (m_process.state() == QProcess::Running && !deadline.hasExpired()) {
            if (QFile::exists(socket) && !m_process.waitForFinished(100))
                return true;
            QThread::msleep(20);
        }
        m_process.kill();
        m_process.waitForFinished();
    }
    return false;
}

void XServer::use(HostTree &tree) const
{
    tree.setEnvironment("QT_QPA_PLATFORM", "xcb");
    tree.setEnvironment("DISPLAY", m_display);
}

bool XServer::xdotool(const QStringList &arguments, QByteArray *output)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", m_display);
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start("xdotool", arguments);
    if (!process.waitForFinished(20000))
        return false;
    if (output)
        *output = process.readAllStandardOutput();
    return process.exitCode() == 0;
}
