// Start-up time of the host on an application that quits at once (loose files, and a 1 MiB
// bundle), against a bare widgets program that shows a window and quits, in the same run.
#include "benchsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

static const int runs = 21;

static const QByteArray application = R"(
local qt = require 'qt.core'
function MsgHandler(h, e)
    if e == 'onStartup' then
        local w = qt.QWidget.create(nil, false)
        function qt.Widget.__deleted(d) if rawequal(d, w) then mainWindow:close() end end
        w:destroy()
    end
    return 0
end
)";

static void writefile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(content);
}

// A bundle whose loader hands the payload's first bytes to require as the module remote.
static QByteArray bundle()
{
    QByteArray payload = application;
    payload.append(QByteArray(1024 * 1024 - payload.size(), '-'));
    const QByteArray loader = "local c = ... package.preload.remote = function() return "
                              "assert(load(c:sub(1, " +
                              QByteArray::number(application.size()) + ")))() end";
    return payload + loader + QByteArray::number(loader.size()).leftJustified(16, ' ');
}

// One start of a program, in milliseconds until it has ended.
static double timeRun(const QString &program, const QString &directory)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("TMPDIR", directory);
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(directory);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(program, QStringList());
    if (!process.waitForFinished(30000) || process.exitCode() != 0) {
        fprintf(stderr, "%s did not end cleanly\n", qPrintable(program));
        exit(1);
    }
    return timer.nsecsElapsed() / 1e6;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString built = QCoreApplication::applicationDirPath();
    QTemporaryDir loose;
    QTemporaryDir bundled;
    for (const QTemporaryDir *tree : {&loose, &bundled}) {
        QDir().mkpath(tree->path() + "/build/bin/native");
        QFile::copy(built + "/remote", tree->path() + "/build/bin/remote");
        for (const QString &name : QDir(built + "/native").entryList(QDir::Files))
            QFile::copy(built + "/native/" + name, tree->path() + "/build/bin/native/" + name);
    }
    writefile(loose.path() + "/remote.lua", application);
    writefile(bundled.path() + "/build/bin/bundle.bin", bundle());

    // Round by round, so that a slower spell of the machine falls on all three alike.
    std::vector<double> bareTimes, looseTimes, bundleTimes;
    for (int i = 0; i < runs; ++i) {
        bareTimes.push_back(timeRun(built + "/bare-window", loose.path()));
        looseTimes.push_back(timeRun(loose.path() + "/build/bin/remote", loose.path()));
        bundleTimes.push_back(timeRun(bundled.path() + "/build/bin/remote", bundled.path()));
    }
    const double bare = median(bareTimes);
    const double looseHost = median(looseTimes);
    const double bundleHost = median(bundleTimes);
    printf("bare widgets program: %.1f ms (median of %d)\n", bare, runs);
    printf("host, loose files:    %.1f ms\n", looseHost);
    printf("host, 1 MiB bundle:   %.1f ms\n", bundleHost);
    printf("loose files over bare: %.3f\n", looseHost / bare);
    printf("bundle over bare: %.3f\n", bundleHost / bare);
    printf("ratio: %.3f\n", std::max(looseHost, bundleHost) / bare);
    return 0;
}
