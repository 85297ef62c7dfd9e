// The Debian package built by cpack: its contents, unpacked, start the packed demo headless.

#include <QtTest>

static QString run(const QString &program, const QStringList &arguments, int *exitCode = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    process.waitForFinished(180000);
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromLocal8Bit(process.readAll());
}

static QByteArray readFile(const QString &name)
{
    QFile file(name);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

class TestInstall : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_root;

private slots:
    void initTestCase()
    {
        int exitCode = 0;
        const QString output = run(
            "cpack",
            {"--config", REMOTE_BINARY_DIR "/CPackConfig.cmake", "-G", "DEB", "-B", m_dir.path()},
            &exitCode);
        QVERIFY2(exitCode == 0, qPrintable(output));
        const QStringList debs = QDir(m_dir.path()).entryList({"remote_*.deb"});
        QCOMPARE(debs.size(), 1);
        const QString deb = m_dir.filePath(debs.first());
        const QString depends = run("dpkg-deb", {"-f", deb, "Depends"});
        for (const char *package : {"libqt5widgets5", "liblua5.3-0", "libmp3lame0"})
            QVERIFY2(depends.contains(package), qPrintable(depends));
        m_root = m_dir.filePath("root");
        run("dpkg-deb", {"-x", deb, m_root}, &exitCode);
        QCOMPARE(exitCode, 0);
    }

    void filesAreInPlace()
    {
        const QFileInfo command(m_root + "/usr/bin/remote");
        QVERIFY(command.isSymLink());
        QCOMPARE(command.symLinkTarget(), m_root + "/usr/lib/remote/remote");
        for (const char *file :
             {"usr/bin/remote-pack", "usr/lib/remote/remote", "usr/lib/remote/bundle.bin",
              "usr/lib/remote/stylesheet.css", "usr/lib/remote/native/pdf2.core.so",
              "usr/lib/remote/digital-7.ttf", "usr/share/doc/remote/lua-api.md",
              "usr/share/icons/hicolor/scalable/apps/remote.svg"})
            QVERIFY2(QFileInfo(m_root + '/' + file).size() > 0, file);
        const QByteArray entry = readFile(m_root + "/usr/share/applications/remote.desktop");
        QVERIFY(entry.contains("\nExec=remote\n") && entry.contains("\nIcon=remote\n"));
    }

    // Started through bin/, the program finds its files and the packed demo in lib/remote.
    void installedProgramStartsThePackedDemo()
    {
        QTemporaryDir work;
        QDir().mkpath(work.filePath("tmp"));
        QProcess host;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("TMPDIR", work.filePath("tmp"));
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        host.setProcessEnvironment(environment);
        host.setWorkingDirectory(work.path());
        host.start(m_root + "/usr/bin/remote", {"-df"});
        QVERIFY(host.waitForStarted());
        const QString log = work.filePath("log.txt");
        QDeadlineTimer deadline(30000);
        while (!readFile(log).contains("event onStartup") && !deadline.hasExpired())
            QThread::msleep(100);
        QThread::msleep(1000);
        const QByteArray output = readFile(log);
        QCOMPARE(host.state(), QProcess::Running);
        host.terminate();
        host.waitForFinished(5000);
        QVERIFY2(output.contains("directory\t" + m_root.toLocal8Bit() + "/usr/lib/remote\n"),
                 output.constData());
        QVERIFY2(output.contains("size of bundle:") && output.contains("package.path\t\n") &&
                     output.contains("event onStartup") && !output.contains("Error:"),
                 output.constData());
        QVERIFY(output.contains("Debug: \"DSEG7 Classic\""));
    }
};

QTEST_MAIN(TestInstall)
#include "tst_install.moc"
