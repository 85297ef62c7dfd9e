#include "capture.h"
#include "devices/footpedal.h"
#include "fakehidapi.h"

#include <QSignalSpy>
#include <QtTest>

// One connection of the worker, run on the test's thread against the scripted pedal; every
// script that reaches the read loop ends with an unplug, so run() returns.
class TestFootPedal : public QObject
{
    Q_OBJECT

private slots:
    void init() { fakehid::reset(); }

    void connectionDependsOnTheStrings_data()
    {
        QTest::addColumn<int>("failures");
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<bool>("reads");
        const QByteArray maker = "Manufacturer String: Fake Pedals\n";
        const QByteArray named = maker + "Product String: Foot Switch\n";
        const QByteArray serial = "Serial Number String: (70) FP-0001\n";
        const QByteArray indexed = "Indexed String 1: Three Switches\n";
        const QByteArray unplugged = "Unable to read()\n";
        QTest::newRow("every string") << 0 << named + serial + indexed + unplugged << true;
        QTest::newRow("no manufacturer")
            << int(fakehid::Manufacturer) << QByteArray("Unable to read manufacturer string\n")
            << false;
        QTest::newRow("no product")
            << int(fakehid::Product) << maker + "Unable to read product string\n"
            << false;
        QTest::newRow("no serial number")
            << int(fakehid::SerialNumber)
            << named + "Unable to read serial number string\nSerial Number String: (0) \n" +
                   indexed + unplugged
            << true;
        QTest::newRow("no indexed string")
            << int(fakehid::IndexedString)
            << named + serial + "Unable to read indexed string 1\nIndexed String 1: \n" + unplugged
            << true;
        QTest::newRow("drain fails")
            << int(fakehid::Drain) << named + serial + indexed + "Unable to write() (2)\n"
            << false;
    }

    void connectionDependsOnTheStrings()
    {
        QFETCH(int, failures);
        QFETCH(QByteArray, output);
        QFETCH(bool, reads);
        fakehid::plug(failures);
        fakehid::unplug();
        FootPedal pedal;
        QSignalSpy started(&pedal, &FootPedal::started);
        QSignalSpy stopped(&pedal, &FootPedal::stopped);
        const DebugCapture debug;
        StdoutCapture capture;
        pedal.run();
        QCOMPARE(capture.text(), output);
        QCOMPARE(started.count(), reads ? 1 : 0);
        QCOMPARE(stopped.count(), 1);
        QCOMPARE(fakehid::counts().opens, 1);
        QCOMPARE(fakehid::counts().openDevices, 0);
        QCOMPARE(fakehid::counts().exits, 1);
    }

    void everyReportIsPrintedWholeAndGivesItsFirstByte()
    {
        fakehid::plug();
        fakehid::reports("01 01 03ff10");
        fakehid::unplug();
        FootPedal pedal;
        QSignalSpy changed(&pedal, &FootPedal::changed);
        const DebugCapture debug;
        StdoutCapture capture;
        pedal.run();
        const QByteArray output = capture.text();
        QVERIFY2(
            output.endsWith("Indexed String 1: Three Switches\n"
                            "Data read:\n   01 \nData read:\n   01 \nData read:\n   03 ff 10 \n"
                            "Unable to read()\n"),
            output.constData());
        QList<int> flags;
        for (const QList<QVariant> &arguments : qAsConst(changed))
            flags << arguments.at(0).toInt();
        QCOMPARE(flags, (QList<int>{1, 1, 3}));
        const QByteArray request = QByteArray("\x01\x81", 2) + QByteArray(15, '\0');
        QCOMPARE(QByteArray::fromStdString(fakehid::counts().written), request);
    }

    void stopRequestedBeforeTheRunSkipsTheConnection()
    {
        fakehid::plug();
        FootPedal pedal;
        QSignalSpy stopped(&pedal, &FootPedal::stopped);
        pedal.requestStop();
        pedal.run();
        QCOMPARE(fakehid::counts().opens, 0);
        QCOMPARE(stopped.count(), 0);
    }
};

QTEST_MAIN(TestFootPedal)
#include "tst_footpedal.moc"
