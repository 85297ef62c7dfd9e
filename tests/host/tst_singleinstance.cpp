#include "common/hosttree.h"
#include "common/xserver.h"

#include <QtTest>

static const QByteArray stayingApplication = R"(
function MsgHandler(h, e) if e == 'onStartup' then print('ready') end return 0 end
)";

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
    XServer xserver;

    void answerBoxOf(qint64 pid)
    {
        QByteArray found;
        QVERIFY(xserver.xdotool({"search", "--sync", "--all", "--onlyvisible", "--pid",
                                 QString::number(pid), "--name", "^Vantor$"},
                                &found));
        const QByteArray window = found.split('\n').value(0);
        QVERIFY(!window.isEmpty());
        QVERIFY(xserver.xdotool({"windowfocus", "--sync", window}));
        QVERIFY(xserver.xdotool({"key", "Return"}));
    }

private slots:
    void initTestCase() { QVERIFY(xserver.start()); }

    void secondStartIsRefusedAndRaisesTheFirst()
    {
        HostTree tree;
        xserver.use(tree);
        tree.writeApplication(stayingApplication);
        QProcess first;
        tree.start(first, {"-df"});
        QVERIFY(tree.waitForLog("ready\n"));

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

        QVERIFY(tree.waitForLog("Debug: Message from another instance: \"VantorOrna32\"\n"));
        first.kill();
        first.waitForFinished();
    }

    void crashedCopyDoesNotBlockTheNext()
    {
        HostTree tree;
        tree.writeApplication(stayingApplication);
        QProcess crashing;
        tree.start(crashing, {"-df"});
        QVERIFY(tree.waitForLog("ready\n"));
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
