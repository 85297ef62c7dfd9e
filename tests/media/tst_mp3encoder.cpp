#include "fakelame.h"
#include "media/lamelibrary.h"
#include "media/mp3encoder.h"
#include "soundcheck.h"

#include <QFile>
#include <QLibrary>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <thread>

// FAKE_LAME and INCOMPLETE_LAME are the paths of the fake libraries, set by the build.
class TestMp3Encoder : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QLibrary m_fakeLibrary{FAKE_LAME};
    FakeLame *m_fake = nullptr;
    FakeLame m_fakeDefaults{};

    QString path(const QString &name) const { return m_dir.filePath(name); }

    static void skipWithoutLameCommand()
    {
        if (QStandardPaths::findExecutable("lame").isEmpty())
            QSKIP("needs the lame command to decode");
    }

    // Encodes the samples in blocks of the given size through the system's LAME.
    static void encodeFile(const QString &file, const QVector<short> &samples, int block)
    {
        LameLibrary lame({"libmp3lame.so.0"});
        Mp3Encoder encoder(lame);
        QCOMPARE(encoder.open(QFile::encodeName(file).constData(), 44100, false), 0);
        for (int at = 0; at < samples.size(); at += block)
            QCOMPARE(encoder.encode(samples.constData() + at, std::min(block, samples.size() - at)),
                     0);
        QCOMPARE(encoder.finish(), 0);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_fakeLibrary.load(), qPrintable(m_fakeLibrary.errorString()));
        m_fake = reinterpret_cast<FakeLame *>(m_fakeLibrary.resolve("fake_lame"));
        QVERIFY(m_fake);
        m_fakeDefaults = *m_fake;
    }

    void init() { *m_fake = m_fakeDefaults; }

    void toneDecodesBackWithTheConfigurationPrinted()
    {
        skipWithoutLameCommand();
        const QString file = path("tone.mp3");
        StdoutCapture capture;
        encodeFile(file, tone(1000, 16384, 44100, 1, 2.0), 2205);
        const QByteArray printed = capture.finish();
        QVERIFY2(printed.startsWith("MP3 Encoder Lame Version 3."), printed.constData());
        QVERIFY2(printed.endsWith("\nEncoding as 44.1 kHz  64 kbps single-ch MPEG-1 Layer III "
                                  "(11x) quality 3\n"),
                 printed.constData());
        const Sound sound = decodeMp3(file);
        QCOMPARE(sound.rate, 44100);
        QCOMPARE(sound.channels, 1);
        QVERIFY2(qAbs(sound.seconds() - 2.0) < 0.1, qPrintable(QString::number(sound.seconds())));
        QVERIFY2(qAbs(sound.frequency() - 1000) < 10,
                 qPrintable(QString::number(sound.frequency())));
        QVERIFY2(qAbs(sound.peak() - 16384) < 1600, qPrintable(QString::number(sound.peak())));
    }

    // Three seconds come out as some 24 KiB of MP3, three times the output buffer.
    void blockLongerThanTheBufferIsEncodedWhole()
    {
        skipWithoutLameCommand();
        const QString file = path("long.mp3");
        StdoutCapture capture;
        encodeFile(file, tone(1000, 16384, 44100, 1, 3.0), 3 * 44100);
        QVERIFY(!capture.finish().contains("not big enough"));
        const Sound sound = decodeMp3(file);
        QVERIFY2(qAbs(sound.seconds() - 3.0) < 0.1, qPrintable(QString::number(sound.seconds())));
    }

    void silenceMakesAValidFile()
    {
        skipWithoutLameCommand();
        const QString file = path("silence.mp3");
        encodeFile(file, QVector<short>(44100), 100);
        const Sound sound = decodeMp3(file);
        QVERIFY2(qAbs(sound.seconds() - 1.0) < 0.1, qPrintable(QString::number(sound.seconds())));
        QCOMPARE(sound.peak(), 0);
    }

    void failedOpenPrintsWhy_data()
    {
        QTest::addColumn<QString>("library");
        QTest::addColumn<int>("initFails");
        QTest::addColumn<int>("initParamsResult");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("printed");
        QTest::addColumn<bool>("emptyFileLeft");

        const QString fake = FAKE_LAME;
        QTest::newRow("no library") << "/nonexistent/libmp3lame.so.0" << 0 << 0 << "a.mp3"
                                    << QByteArray("Unable to find the Lame MP3 Encoder") << false;
        QTest::newRow("an entry point missing")
            << INCOMPLETE_LAME << 0 << 0 << "b.mp3" << QByteArray("Failed to load Lame MP3 Encoder")
            << false;
        QTest::newRow("file cannot be created")
            << fake << 0 << 0 << "no/such/folder/c.mp3"
            << QByteArray("MP3 Encoder Lame Version fake\nFailed to create file FILE\nNo such file "
                          "or directory")
            << false;
        QTest::newRow("lame_init fails")
            << fake << 1 << 0 << "d.mp3"
            << QByteArray("MP3 Encoder Lame Version fake\nFailed to initialize encoder\n") << true;
        QTest::newRow("parameters refused")
            << fake << 0 << -1 << "e.mp3"
            << QByteArray("MP3 Encoder Lame Version fake\nFailed to set encoder paramaters\n"
                          "Failed to initialize encoder\n")
            << true;
    }

    void failedOpenPrintsWhy()
    {
        QFETCH(QString, library);
        QFETCH(int, initFails);
        QFETCH(int, initParamsResult);
        QFETCH(QString, file);
        QFETCH(QByteArray, printed);
        QFETCH(bool, emptyFileLeft);
        m_fake->initFails = initFails;
        m_fake->initParamsResult = initParamsResult;
        const QByteArray target = QFile::encodeName(path(file));
        LameLibrary lame({library});
        StdoutCapture capture;
        {
            Mp3Encoder encoder(lame);
            QCOMPARE(encoder.open(target.constData(), 44100, false), -1);
        }
        QCOMPARE(capture.finish(), printed.replace("FILE", target));
        QCOMPARE(QFile::exists(path(file)), emptyFileLeft);
        if (emptyFileLeft)
            QCOMPARE(QFileInfo(path(file)).size(), 0);
    }

    // A library not found is searched for again; one that lacks an entry point is never used,
    // even with a complete one further down the list.
    void onlyAMissingLibraryIsSearchedForAgain()
    {
        const QString later = path("later/libmp3lame.so.0");
        LameLibrary missing({later});
        LameLibrary broken({INCOMPLETE_LAME, FAKE_LAME});
        StdoutCapture capture;
        QVERIFY(!missing.bind());
        QVERIFY(!broken.bind());
        QVERIFY(QDir().mkpath(path("later")));
        QVERIFY(QFile::copy(FAKE_LAME, later));
        QVERIFY(missing.bind());
        QVERIFY(!broken.bind());
        QCOMPARE(capture.finish(), QByteArray("Unable to find the Lame MP3 Encoder"
                                              "Failed to load Lame MP3 Encoder"
                                              "MP3 Encoder Lame Version fake\n"
                                              "Failed to load Lame MP3 Encoder"));
    }

    void bindingHappensOnceForAllThreads()
    {
        LameLibrary lame({FAKE_LAME});
        std::atomic<bool> go{false};
        const LameApi *bound[2] = {nullptr, nullptr};
        StdoutCapture capture;
        std::thread first([&] {
            while (!go) {
            }
            bound[0] = lame.bind();
        });
        std::thread second([&] {
            while (!go) {
            }
            bound[1] = lame.bind();
        });
        go = true;
        first.join();
        second.join();
        QCOMPARE(capture.finish(), QByteArray("MP3 Encoder Lame Version fake\n"));
        QVERIFY(bound[0] && bound[0] == bound[1]);
        QCOMPARE(m_fake->versionCalls - m_fakeDefaults.versionCalls, 1);
    }

    void configurationLine_data()
    {
        QTest::addColumn<int>("outSamplerate");
        QTest::addColumn<int>("brate");
        QTest::addColumn<int>("forceMs");
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("version");
        QTest::addColumn<float>("ratio");
        QTest::addColumn<int>("quality");
        QTest::addColumn<QByteArray>("line");

        QTest::newRow("mono 44.1 kHz")
            << 44100 << 64 << 0 << 3 << 1 << 11.025f << 3
            << QByteArray(
                   "Encoding as 44.1 kHz  64 kbps single-ch MPEG-1 Layer III (11x) quality 3");
        QTest::newRow("joint stereo 48 kHz")
            << 48000 << 128 << 0 << 1 << 1 << 12.0f << 2
            << QByteArray("Encoding as 48 kHz 128 kbps j-stereo MPEG-1 Layer III (12x) quality 2");
        QTest::newRow("forced mid-side")
            << 44100 << 320 << 1 << 1 << 1 << 4.41f << 0
            << QByteArray(
                   "Encoding as 44.1 kHz 320 kbps force-ms MPEG-1 Layer III (4.4x) quality 0");
        QTest::newRow("dual channel")
            << 32000 << 96 << 1 << 2 << 1 << 10.67f << 5
            << QByteArray("Encoding as 32 kHz  96 kbps dual-ch MPEG-1 Layer III (10.7x) quality 5");
        QTest::newRow("MPEG-2")
            << 22050 << 32 << 0 << 3 << 0 << 11.025f << 5
            << QByteArray(
                   "Encoding as 22.05 kHz  32 kbps single-ch MPEG-2 Layer III (11x) quality 5");
        QTest::newRow("MPEG-2.5")
            << 8000 << 8 << 0 << 0 << 0 << 16.0f << 7
            << QByteArray("Encoding as 8 kHz   8 kbps stereo MPEG-2.5 Layer III (16x) quality 7");
        QTest::newRow("mode not set")
            << 44100 << 64 << 0 << 4 << 1 << 10.94f << 3
            << QByteArray("Encoding as 44.1 kHz  64 kbps ? MPEG-1 Layer III (10.9x) quality 3");
    }

    void configurationLine()
    {
        QFETCH(int, outSamplerate);
        QFETCH(int, brate);
        QFETCH(int, forceMs);
        QFETCH(int, mode);
        QFETCH(int, version);
        QFETCH(float, ratio);
        QFETCH(int, quality);
        QFETCH(QByteArray, line);
        *m_fake = {0,       0,    0,       0,       outSamplerate, brate,
                   forceMs, mode, version, quality, ratio,         m_fake->versionCalls};
        LameLibrary lame({FAKE_LAME});
        Mp3Encoder encoder(lame);
        StdoutCapture capture;
        QCOMPARE(encoder.open(QFile::encodeName(path("line.mp3")).constData(), 44100, false), 0);
        QCOMPARE(capture.finish(), "MP3 Encoder Lame Version fake\n" + line + "\n");
    }

    void encodingFailuresPrintAndLoseTheBlock_data()
    {
        QTest::addColumn<int>("encodeResult");
        QTest::addColumn<int>("flushResult");
        QTest::addColumn<int>("encoded");
        QTest::addColumn<QByteArray>("printed");

        QTest::newRow("no frame yet") << 0 << 0 << 0 << QByteArray();
        QTest::newRow("buffer too small")
            << -1 << 0 << -1 << QByteArray("MP3 buffer is not big enough");
        QTest::newRow("internal error")
            << -3 << 0 << -1 << QByteArray("MP3 internal error: error code=-3");
        QTest::newRow("flush: buffer too small")
            << 0 << -1 << 0 << QByteArray("MP3 buffer is not big enough");
        QTest::newRow("flush: internal error")
            << 0 << -2 << 0 << QByteArray("MP3 internal error:  error code=-2");
    }

    void encodingFailuresPrintAndLoseTheBlock()
    {
        QFETCH(int, encodeResult);
        QFETCH(int, flushResult);
        QFETCH(int, encoded);
        QFETCH(QByteArray, printed);
        m_fake->encodeResult = encodeResult;
        m_fake->flushResult = flushResult;
        LameLibrary lame({FAKE_LAME});
        Mp3Encoder encoder(lame);
        const QString file = path("failing.mp3");
        const QVector<short> block(2205);
        {
            StdoutCapture quiet;
            QCOMPARE(encoder.open(QFile::encodeName(file).constData(), 44100, false), 0);
        }
        StdoutCapture capture;
        QCOMPARE(encoder.encode(block.constData(), block.size()), encoded);
        QCOMPARE(encoder.finish(), 0);
        QCOMPARE(capture.finish(), printed);
        QCOMPARE(QFileInfo(file).size(), 0);
    }

    // The stream buffers 64 KiB, so the failing write comes with the block that overflows it.
    void shortWriteIsReported()
    {
        if (!QFile::exists("/dev/full"))
            QSKIP("needs /dev/full");
        m_fake->encodeResult = 8000;
        LameLibrary lame({FAKE_LAME});
        Mp3Encoder encoder(lame);
        const QVector<short> block(1000);
        StdoutCapture capture;
        QCOMPARE(encoder.open("/dev/full", 44100, false), 0);
        int result = 0;
        for (int i = 0; i < 20 && result == 0; ++i)
            result = encoder.encode(block.constData(), block.size());
        const QByteArray printed = capture.finish();
        QCOMPARE(result, -1);
        QVERIFY2(printed.endsWith("Error writing mp3 output"), printed.constData());
    }
};

QTEST_MAIN(TestMp3Encoder)
#include "tst_mp3encoder.moc"
