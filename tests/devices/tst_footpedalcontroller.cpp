#include "capture.h"
#include "common/hosttree.h"
#include "devices/footpedalcontroller.h"
#include "fakehidapi.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QtTest>

// The controller's signals as "pressed 2", "released 2", in the order they came.
static void record(FootPedalController *controller, QStringList *edges)
{
    QObject::connect(controller, &FootPedalController::pressed,
                     [edges](int pedal) { *edges << QString("pressed %1").arg(pedal); });
    QObject::connect(controller, &FootPedalController::released,
                     [edges](int pedal) { *edges << QString("released %1").arg(pedal); });
}

static QTimer *retryTimer(FootPedalController &controller)
{
    return controller.findChild<QTimer *>();
}

// Stands in for the timer's time-out, so no test waits one second or five for an attempt.
static void attempt(FootPedalController &controller)
{
    retryTimer(controller)->stop();
    QMetaObject::invokeMethod(&controller, "onTimeout");
}

// The connection has ended and the next attempt is five seconds away.
static bool retrying(FootPedalController &controller)
{
    const QTimer *timer = retryTimer(controller);
    return timer->isActive() && timer->interval() == 5000;
}

static QStringList transitions(const QStringList &debugLines)
{
    return debugLines.filter(" -> ");
}

// The host's tree runs a copy of the host linked with the scripted pedal.
static bool useScriptedPedal(const HostTree &tree)
{
    const QString program = tree.binDirectory() + "/remote";
    QFile::remove(program);
    return QFile::copy(QCoreApplication::applicationDirPath() + "/remote-fakepedal", program);
}

class TestFootPedalController : public QObject
{
    Q_OBJECT

private slots:
    void init() { fakehid::reset(); }

    // Every connection ends with the unplug, which releases the pedals still held.
    void reportsBecomeEdgesLowestPedalFirst_data()
    {
        QTest::addColumn<QByteArray>("reports");
        QTest::addColumn<QStringList>("edges");
        QTest::addColumn<QStringList>("changes");
        QTest::newRow("press and release")
            << QByteArray("04 00") << QStringList{"pressed 2", "released 2"}
            << QStringList{"0 -> 4", "4 -> 0"};
        QTest::newRow("press 0 and release 2 at once")
            << QByteArray("04 01")
            << QStringList{"pressed 2", "pressed 0", "released 2", "released 0"}
            << QStringList{"0 -> 4", "4 -> 1", "1 -> 0"};
        QTest::newRow("an unchanged byte")
            << QByteArray("02 02 02") << QStringList{"pressed 1", "released 1"}
            << QStringList{"0 -> 2", "2 -> 0"};
        QStringList all;
        for (int pedal = 0; pedal < 8; ++pedal)
            all << QString("pressed %1").arg(pedal);
        for (int pedal = 0; pedal < 8; ++pedal)
            all << QString("released %1").arg(pedal);
        QTest::newRow("all eight")
            << QByteArray("ff 00") << all << QStringList{"0 -> 255", "255 -> 0"};
        QTest::newRow("only the first byte counts")
            << QByteArray("0102ff 01ff") << QStringList{"pressed 0", "released 0"}
            << QStringList{"0 -> 1", "1 -> 0"};
    }

    void reportsBecomeEdgesLowestPedalFirst()
    {
        QFETCH(QByteArray, reports);
        QFETCH(QStringList, edges);
        QFETCH(QStringList, changes);
        fakehid::plug();
        fakehid::reports(reports.toStdString());
        fakehid::unplug();
        QStringList seen;
        const DebugCapture debug;
        FootPedalController controller;
        record(&controller, &seen);
        attempt(controller);
        QTRY_VERIFY(retrying(controller));
        QCOMPARE(seen, edges);
        QCOMPARE(transitions(debug.lines()), changes);
    }

    void unplugWithPedalHeldReleasesItAndRetries()
    {
        fakehid::plug();
        fakehid::reports("02");
        QStringList seen;
        const DebugCapture debug;
        FootPedalController controller;
        record(&controller, &seen);
        QStringList links;
        connect(&controller, &FootPedalController::connected,
                [&links](const QString &product) { links << "connected " + product; });
        connect(&controller, &FootPedalController::disconnected,
                [&links](const QString &product) { links << "disconnected " + product; });
        attempt(controller);
        QTRY_COMPARE(seen, QStringList{"pressed 1"});
        QCOMPARE(links, QStringList{"connected Foot Switch"});
        StdoutCapture capture;
        fakehid::unplug();
        QTRY_VERIFY(retrying(controller));
        const QByteArray output = capture.text();
        QVERIFY2(output.contains("Unable to read()\n"), output.constData());
        QCOMPARE(seen, (QStringList{"pressed 1", "released 1"}));
        QCOMPARE(links, (QStringList{"connected Foot Switch", "disconnected Foot Switch"}));

        attempt(controller);
        QTRY_VERIFY(retrying(controller));
        QCOMPARE(fakehid::counts().opens, 1);

        fakehid::plug();
        fakehid::reports("02");
        attempt(controller);
        QTRY_COMPARE(seen.size(), 3);
        QCOMPARE(seen.last(), QString("pressed 1"));
        QCOMPARE(fakehid::counts().opens, 2);
    }

    void startDuringAConnectionLeavesItAlone()
    {
        fakehid::plug();
        const DebugCapture debug;
        FootPedalController controller;
        attempt(controller);
        QTRY_COMPARE(fakehid::counts().openDevices, 1);
        controller.start();
        QVERIFY(!retryTimer(controller)->isActive());
    }

    void quitBeforeStartIsFinal()
    {
        fakehid::plug();
        const DebugCapture debug;
        FootPedalController controller;
        controller.start();
        controller.quit();
        QVERIFY(!retryTimer(controller)->isActive());
        controller.quit();
        controller.start();
        QVERIFY(!retryTimer(controller)->isActive());
        attempt(controller);
        QTest::qWait(50);
        QCOMPARE(fakehid::counts().opens, 0);
        QCOMPARE(debug.lines(), QStringList{"Running false"});
    }

    void quitWhileReadingStopsWithinOneReadTimeout()
    {
        fakehid::plug();
        fakehid::reports("01");
        QStringList seen;
        const DebugCapture debug;
        FootPedalController controller;
        record(&controller, &seen);
        attempt(controller);
        QTRY_COMPARE(seen, QStringList{"pressed 0"});
        QElapsedTimer clock;
        clock.start();
        controller.quit();
        QVERIFY(clock.elapsed() < 500);
        QCOMPARE(fakehid::counts().openDevices, 0);
        QCOMPARE(fakehid::counts().exits, 1);
        QVERIFY(debug.lines().contains("Running true"));
        QVERIFY(!debug.lines().contains("Terminating thread"));

        controller.quit();
        controller.start();
        attempt(controller);
        QTest::qWait(50);
        QCOMPARE(fakehid::counts().opens, 1);
        QCOMPARE(seen, QStringList{"pressed 0"});
    }

    // A worker stuck in a write is left to end on its own; quit does not wait for it.
    void quitDuringAStuckWriteReturnsAtOnce()
    {
        fakehid::plug(fakehid::Write);
        const DebugCapture debug;
        FootPedalController controller;
        attempt(controller);
        QTRY_COMPARE(fakehid::counts().openDevices, 1);
        QTest::qWait(20);
        QElapsedTimer clock;
        clock.start();
        controller.quit();
        QVERIFY2(clock.elapsed() < 100, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!debug.lines().contains("Terminating thread"));
        fakehid::unblock();
        QTRY_COMPARE(fakehid::counts().openDevices, 0);
        QTest::qWait(20);
    }

    // A pedal that is there but cannot be opened is logged once, not at every attempt.
    void unopenablePedalIsExplainedOnce()
    {
        fakehid::plug(fakehid::Open);
        const DebugCapture debug;
        FootPedalController controller;
        for (int i = 0; i < 3; ++i) {
            attempt(controller);
            QTRY_VERIFY(retrying(controller));
        }
        const QStringList explained = debug.lines().filter("cannot be opened");
        QCOMPARE(explained, QStringList{"Foot pedal at /dev/hidraw-fake cannot be opened: No such "
                                        "file or directory"});
    }

    void destroyingWhileReadingStopsTheThread()
    {
        fakehid::plug();
        const DebugCapture debug;
        {
            FootPedalController controller;
            attempt(controller);
            QTRY_COMPARE(fakehid::counts().openDevices, 1);
        }
        QCOMPARE(fakehid::counts().openDevices, 0);
    }

    void pressesReachTheApplicationAndClosingEndsCleanly()
    {
        HostTree tree;
        QVERIFY(useScriptedPedal(tree));
        tree.setEnvironment("FAKEHIDAPI_REPORTS", "04 00 01");
        tree.writeApplication(R"(
local seen = {}
function MsgHandler(h, e, pedal)
    if e == 'onStartup' then mainWindow:startFootPedal() end
    if e == 'onFootConnected' then seen[#seen + 1] = e .. ' ' .. pedal end
    if e == 'onFootPress' or e == 'onFootRelease' then
        seen[#seen + 1] = e .. ' ' .. pedal
        if e == 'onFootPress' and pedal == 0 then
            print('pedal events: ' .. table.concat(seen, ', '))
            mainWindow:close()
        end
    end
    return 0
end
)");
        const HostResult result = tree.run();
        QVERIFY2(result.finished && result.exitCode == 0, qPrintable(result.output));
        QVERIFY2(result.output.contains("pedal events: onFootConnected Foot Switch, onFootPress 2, "
                                        "onFootRelease 2, onFootPress 0\n"),
                 qPrintable(result.output));
        QVERIFY(result.output.contains("Debug: onFootpedalReleased() 2\n"));
        QVERIFY(result.output.contains("Debug: Running true\n"));
        QVERIFY(!result.output.contains("Terminating thread"));
    }
};

QTEST_MAIN(TestFootPedalController)
#include "tst_footpedalcontroller.moc"
