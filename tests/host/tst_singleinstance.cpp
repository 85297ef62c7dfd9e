#include "common/hosttree.h"
#include "common/xserver.h"

#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

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

    // Copies that start together all find no running copy to talk to; only one may go on. The
    // others either end or stand refused behind their warning box (killed here).
    void simultaneousStartsRunOneApplication()
    {
        HostTree tree;
        tree.writeApplication(R"(
            function MsgHandler(h, e)
                if e == 'onStartup' then print('application started') io.stdout:flush() end
                return 0
            end
        )");
        QProcess copies[5];
        QByteArray outputs[5];
        for (QProcess &copy : copies)
            tree.start(copy);
        const QByteArray started = "application started\n";
        const QByteArray refused = "Instance already running!";
        auto startedCount = [&] {
            int count = 0;
            for (const QByteArray &output : outputs)
                count += output.count(started);
            return count;
        };
        // Once one copy runs, the others have a moment to show which way they went.
        QDeadlineTimer deadline(20000);
        QDeadlineTimer settle(QDeadlineTimer::Forever);
        for (;;) {
            bool settled = true;
            for (int i = 0; i < 5; ++i) {
                copies[i].waitForReadyRead(10);
                outputs[i] += copies[i].readAll();
                settled =
                    settled && (outputs[i].contains(started) || outputs[i].contains(refused) ||
                                copies[i].state() == QProcess::NotRunning);
            }
            if (startedCount() > 0 && settle.isForever())
                settle.setRemainingTime(2000);
            if (startedCount() > 1 || (startedCount() == 1 && settled) || settle.hasExpired() ||
                deadline.hasExpired())
                break;
        }
        const int runners = startedCount();
        for (int i = 0; i < 5; ++i) {
            if (copies[i].state() != QProcess::NotRunning || outputs[i].contains(started))
                continue;
            QCOMPARE(copies[i].exitStatus(), QProcess::NormalExit);
            QCOMPARE(copies[i].exitCode(), 0);
        }
        for (QProcess &copy : copies) {
            copy.kill();
            copy.waitForFinished();
        }
        QCOMPARE(runners, 1);
    }

    void refusedCopyKeepsTheLogFile()
    {
        HostTree tree;
        tree.writeApplication(stayingApplication);
        QProcess first;
        tree.start(first, {"-df"});
        QVERIFY(tree.waitForLog("ready\n"));
        QProcess second;
        tree.start(second, {"-df"});
        const bool messaged = tree.waitForLog("Message from another instance");
        second.waitForFinished(300);
        QFile log(tree.root() + "/log.txt");
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray content = log.readAll();
        second.kill();
        second.waitForFinished();
        first.kill();
        first.waitForFinished();
        QVERIFY(messaged);
        QVERIFY2(!content.startsWith('\0') && content.contains("directory\t") &&
                     content.contains("ready\n"),
                 content.constData());
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

    // A copy that holds the lock but never takes a connection, its queue full: a new copy gives
    // up after the five seconds instead of waiting for ever.
    void stuckCopyIsGivenUp()
    {
        HostTree tree;
        tree.writeApplication(stayingApplication);
        const QByteArray name =
            QFile::encodeName(tree.root() + "/tmp/com.vantor.orna32-" + QString::number(getuid()));
        const int lock = open((name + ".lock").constData(), O_RDWR | O_CREAT, 0600);
        QVERIFY(lock >= 0 && flock(lock, LOCK_EX | LOCK_NB) == 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        memcpy(address.sun_path, name.constData(), size_t(name.size()));
        const auto *at = reinterpret_cast<const sockaddr *>(&address);
        const int server = socket(AF_UNIX, SOCK_STREAM, 0);
        QVERIFY(bind(server, at, sizeof address) == 0 && listen(server, 0) == 0);
        const int queued = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
        QCOMPARE(::connect(queued, at, sizeof address), 0);
        QElapsedTimer timer;
        timer.start();
        const HostResult result = tree.run({}, 15000);
        const qint64 elapsed = timer.elapsed();
        ::close(queued);
        ::close(server);
        ::close(lock);
        QVERIFY(result.finished);
        QCOMPARE(result.exitCode, 0);
        QVERIFY2(result.output.contains("does not answer; giving up"), qPrintable(result.output));
        QVERIFY2(elapsed < 9000, qPrintable(QString::number(elapsed)));
    }
};

QTEST_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
