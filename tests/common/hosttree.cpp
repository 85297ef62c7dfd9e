#include "hosttree.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>

const char *const quitWhenRunning = R"(
local qt = require 'qt.core'
function quitWhenRunning()
    local w = qt.QWidget.create(nil, false)
    function qt.Widget.__deleted(h) if rawequal(h, w) then mainWindow:close() end end
    w:destroy()
end
)";

const char *const laterFunction = R"(
local timers = {}
function later(ms, f)
    local t = require('qt.core').Timer.create()
    t:setTimeout(ms)
    t:setSingleShot()
    function t:onTimeout() f() end
    t:start()
    timers[#timers + 1] = t
end
)";

HostTree::HostTree()
{
    QDir().mkpath(binDirectory());
    QDir().mkpath(root() + "/tmp");
    const QDir built(QCoreApplication::applicationDirPath() + "/../bin");
    const QStringList files = built.entryList({"remote", "*.ttf", "*.css"}, QDir::Files);
    for (const QString &name : files)
        QFile::copy(built.filePath(name), binDirectory() + "/" + name);
    QDir().mkpath(binDirectory() + "/native");
    for (const QString &name : QDir(built.filePath("native")).entryList({"*.so"}, QDir::Files))
        QFile::copy(built.filePath("native/" + name), binDirectory() + "/native/" + name);
}

void HostTree::writeFile(const QString &relativePath, const QByteArray &content)
{
    QFile file(root() + "/" + relativePath);
    QDir().mkpath(QFileInfo(file).path());
    file.open(QIODevice::WriteOnly);
    file.write(content);
}

QProcessEnvironment HostTree::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TMPDIR", root() + "/tmp");
    if (!environment.contains("QT_QPA_PLATFORM"))
        environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert(m_extra);
    return environment;
}

void HostTree::start(QProcess &process, const QStringList &arguments) const
{
    process.setProcessEnvironment(environment());
    process.setWorkingDirectory(root());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(binDirectory() + "/remote", arguments);
}

HostResult HostTree::run(const QStringList &arguments, int timeoutMs) const
{
    QProcess process;
    start(process, arguments);
    const bool finished = process.waitForFinished(timeoutMs);
    if (!finished) {
        process.kill();
        process.waitForFinished();
    }
    return {process.exitCode(), finished, QString::fromLocal8Bit(process.readAll())};
}

bool HostTree::waitForLog(const QByteArray &text, int count) const
{
    QDeadlineTimer deadline(20000);
    for (;;) {
        QFile log(root() + "/log.txt");
        if (log.open(QIODevice::ReadOnly) && log.readAll().count(text) >= count)
            return true;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
}
