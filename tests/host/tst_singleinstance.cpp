#include "common/hosttree.h"

#include <QtTest>

static const QByteArray stayingApplication = R"(
function MsgHandler(h, e) if e == 'onStartup' then print('ready') end return 0 end
)";

// The running copy writes to log.txt (-df), unbuffered, so its lines can be watched as they come.
static bool waitForLog(const QString &path, const QByteArray &text)
{
    QDeadlineTimer deadline(20000);
    for (;;) {
        QFile log(path);
        if (log.open(QIODevice::ReadOnly) && log.readAll().contains(text))
            return true;
        if (deadline.hasExpired())
            return false;
        QTest::qWait(50);
    }
}

static bool waitForOutput(QProcess &process, QByteArray &seen, const QByteArray &text)
{
    QDeadlineTimer deadline(20000);
    while (!seen.contains(text)) {
        if (deadline.hasExpired() || process.state() == QProcess::NotRunning)
            return false;
        process.waitForReadyRead(200);
        seen += process.readAll();
    }
    return true;
}

// A second copy's warning box needs a real window system to be answered, so this test runs its
// own X server.
class TestSingleInstance : public QObject
{
    Q_OBJECT

private:
    QProcess xserver;
    QString display;

    void answerBoxOf(qint64 pid)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DISPLAY", display);
        QProcess search;
        search.setProcessEnvironment(environment);
        search.start("xdotool", {"search", "--sync", "--all", "--onlyvisible", "--pid",
                                 QString::number(pid), "--name", "^Vantor$"});
        QVERIFY(search.waitForFinished(20000));
        const QByteArray window = search.readAllStandardOutput().split('\n').value(0);
        QVERIFY(!window.isEmpty());
        for (const QStringList &arguments :
             {QStringList({"windowfocus", "--sync", window}), QStringList({"key", "Return"})}) {
            QProcess xdotool;
            xdotool.setProcessEnvironment(environment);
            xdotool.start("xdotool", arguments);
            QVERIFY(xdotool.waitForFinished(20000));
        }
    }

private slots:
    void initTestCase()
    {
        int number = 90;
        while (QFile::exists(QString("/tmp/.X11-unix/X%1").arg(number)))
            ++number;
        display = QString(":%1").arg(number);
        xserver.start("Xvfb", {display, "-nolisten", "tcp", "-screen", "0", "1280x1024x24"});
        QVERIFY(xserver.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QString("/tmp/.X11-unix/X%1").arg(number)), 10000);
    }

    void cleanupTestCase()
    {
        xserver.terminate();
        xserver.waitForFinished();
    }

    void secondStartIsRefusedAndRaisesTheFirst()
    {
        HostTree tree;
        tree.setEnvironment("QT_QPA_PLATFORM", "xcb");
        tree.setEnvironment("DISPLAY", display);
        tree.writeApplication(stayingApplication);
        QProcess first;
        tree.start(first, {"-df"});
        const QString log = tree.root() + "/log.txt";
        QVERIFY(waitForLog(log, "ready\n"));

        QProcess second;
        QByteArray secondOutput;
        tree.start(second);
        QVERIFY(waitForOutput(second, secondOutput, "Debug: Instance already running!\n"));
        answerBoxOf(second.processId());
        QVERIFY(second.waitForFinished(20000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        secondOutput += second.readAll();
        QVERIFY2(!secondOutput.contains("directory"), secondOutput.constData());

        QVERIFY(waitForLog(log, "Debug: Message from another instance: \"VantorOrna32\"\n"));
        first.kill();
        first.waitForFinished();
    }

    void crashedCopyDoesNotBlockTheNext()
    {
        HostTree tree;
        tree.writeApplication(stayingApplication);
        QProcess crashing;
        tree.start(crashing, {"-df"});
        QVERIFY(waitForLog(tree.root() + "/log.txt", "ready\n"));
        crashing.kill();
        crashing.waitForFinished();
        QVERIFY(!QDir(tree.root() + "/tmp").entryList({"com.vantor.orna32-*"}).isEmpty());

        tree.writeApplication(QByteArray(quitWhenRunning) + R"(
            function MsgHandler(h, e) if e == 'onStartup' then print('started') quitWhenRunning() end return 0 end
        )");
        const HostResult result = tree.run();
        QCOMPARE(result.exitCode, 0);
        QVERIFY(result.output.contains("started\n"));
        QVERIFY(!result.output.contains("Instance already running"));
    }
};

QTEST_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
