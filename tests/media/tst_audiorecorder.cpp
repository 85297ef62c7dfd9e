#include "common/hosttree.h"
#include "common/luafixture.h"
#include "media/audioencoder.h"
#include "media/audiorecorder.h"
#include "soundcheck.h"

#include <QMutex>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// The private sound server's input is a 1 kHz sine at half scale; the recorder takes it at a
// volume of 0.75, so its blocks peak at 12288, level 236.
static const int toneLevel = 236;

static QMutex messagesMutex;
static QStringList messages;

// Debug messages come from the recorder thread too.
static void collectMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    const QMutexLocker locker(&messagesMutex);
    messages << message;
}

static QStringList takeMessages()
{
    const QMutexLocker locker(&messagesMutex);
    QStringList taken;
    taken.swap(messages);
    return taken;
}

static void writeBlocks(AudioEncoder &encoder, const QVector<short> &samples, int block)
{
    for (int at = 0; at < samples.size(); at += block) {
        const int count = std::min(block, samples.size() - at);
        encoder.write(reinterpret_cast<const char *>(samples.constData() + at), count * 2);
    }
}

// Records into file with the recorder r, until the take has begun.
static bool beginTake(LuaFixture &f, EventLog &log, const QString &file)
{
    loadMediaModules(f);
    return f.run("r = recorder.create() r:record('" + file.toUtf8() + "')") &&
           log.waitFor(QRegularExpression::escape("onFileStatus " + file));
}

static QStringList fileEvents(const QStringList &events)
{
    return events.filter(QRegularExpression("^onFileStatus"));
}

class TestAudioRecorder : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QtMessageHandler m_previousHandler = nullptr;

    QString path(const QString &name) const { return m_dir.filePath(name); }

    static void skipWithoutLameCommand()
    {
        if (QStandardPaths::findExecutable("lame").isEmpty())
            QSKIP("needs the lame command to decode");
    }

    static void skipWithoutSoundServer()
    {
        if (!hasSoundServer())
            QSKIP("needs the sound server of tests/media/with-pulse.sh");
    }

private slots:
    void init()
    {
        takeMessages();
        m_previousHandler = qInstallMessageHandler(collectMessage);
    }

    void cleanup() { qInstallMessageHandler(m_previousHandler); }

    void levelOfABlock_data()
    {
        QTest::addColumn<int>("sample"); // the block's largest magnitude
        QTest::addColumn<int>("offset"); // of the block in memory
        QTest::addColumn<int>("level");

        QTest::newRow("full scale") << 32767 << 0 << 255;
        QTest::newRow("most negative") << -32768 << 0 << 255;
        QTest::newRow("half scale") << 16384 << 0 << 242;
        QTest::newRow("half scale below zero") << -16384 << 0 << 242;
        QTest::newRow("half scale at an odd address") << 16384 << 1 << 242;
        QTest::newRow("the recorded tone") << 12288 << 0 << toneLevel;
        QTest::newRow("a tenth") << 3277 << 0 << 209;
        QTest::newRow("a hundredth") << 328 << 0 << 163;
        QTest::newRow("one step") << 1 << 0 << 48;
        QTest::newRow("digital silence") << 0 << 0 << 0;
    }

    void levelOfABlock()
    {
        QFETCH(int, sample);
        QFETCH(int, offset);
        QFETCH(int, level);
        QVector<short> block(441);
        for (int i = 0; i < block.size(); ++i)
            block[i] = short(sample / 2 * (i % 2 ? 1 : -1));
        block[200] = short(sample);
        QByteArray memory(offset + block.size() * 2, '\0');
        memcpy(memory.data() + offset, block.constData(), size_t(block.size() * 2));
        AudioEncoder encoder;
        encoder.start();
        QSignalSpy status(&encoder, &AudioEncoder::status);
        QCOMPARE(encoder.write(memory.constData() + offset, block.size() * 2),
                 qint64(block.size() * 2));
        QCOMPARE(status.count(), 1);
        QCOMPARE(status.at(0).at(0).value<uchar>(), uchar(0));
        QCOMPARE(int(status.at(0).at(1).value<uchar>()), level);
    }

    void blockWithoutASampleReadsSilence()
    {
        AudioEncoder encoder;
        encoder.start();
        QSignalSpy status(&encoder, &AudioEncoder::status);
        QCOMPARE(encoder.write("\x7f", 1), qint64(1));
        QCOMPARE(status.count(), 1);
        QCOMPARE(int(status.at(0).at(1).value<uchar>()), 0);
    }

    void encoderRecordsInTheFormatOfItsBlocks_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("fileChannels");
        QTest::newRow("stereo") << 22050 << 2 << 2;
        QTest::newRow("four channels mixed down") << 44100 << 4 << 1;
    }

    void encoderRecordsInTheFormatOfItsBlocks()
    {
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(int, fileChannels);
        skipWithoutLameCommand();
        const QString file = path("channels.mp3");
        AudioEncoder encoder;
        encoder.setFormat(rate, channels);
        QSignalSpy files(&encoder, &AudioEncoder::fileStatus);
        QSignalSpy status(&encoder, &AudioEncoder::status);
        QVERIFY(encoder.startRecording(file));
        writeBlocks(encoder, tone(440, 12000, rate, channels, 1.0), rate / 10 * channels);
        encoder.stopRecording();
        QCOMPARE(files.count(), 3);
        QCOMPARE(files.at(0).at(0).toString(), QString());
        QCOMPARE(files.at(1).at(0).toString(), file);
        QCOMPARE(files.at(2).at(0).toString(), QString());
        QCOMPARE(status.count(), 10);
        for (const QList<QVariant> &report : qAsConst(status))
            QCOMPARE(report.at(0).value<uchar>(), uchar(1));
        const Sound sound = decodeMp3(file);
        QCOMPARE(sound.rate, rate);
        QCOMPARE(sound.channels, fileChannels);
        QVERIFY2(qAbs(sound.seconds() - 1.0) < 0.1, qPrintable(QString::number(sound.seconds())));
        QVERIFY2(qAbs(sound.frequency() - 440) < 10,
                 qPrintable(QString::number(sound.frequency())));
    }

    // Destroyed while recording, the encoder still flushes LAME's last frames into the file.
    void encoderDestroyedWhileRecordingFinishesTheFile()
    {
        skipWithoutLameCommand();
        const QVector<short> samples = tone(1000, 16384, 44100, 1, 1.0);
        const QString finished = path("finished.mp3");
        const QString destroyed = path("destroyed.mp3");
        {
            AudioEncoder encoder;
            QVERIFY(encoder.startRecording(finished));
            writeBlocks(encoder, samples, 2205);
            encoder.stopRecording();
        }
        {
            AudioEncoder encoder;
            QVERIFY(encoder.startRecording(destroyed));
            writeBlocks(encoder, samples, 2205);
        }
        const Sound whole = decodeMp3(finished);
        QVERIFY2(whole.seconds() > 0.95, qPrintable(QString::number(whole.seconds())));
        QCOMPARE(decodeMp3(destroyed).samples.size(), whole.samples.size());
    }

    void secondRecordingIsRefusedAndTheFirstGoesOn()
    {
        skipWithoutLameCommand();
        const QString first = path("first.mp3");
        const QString second = path("second.mp3");
        const QVector<short> half = tone(1000, 16384, 44100, 1, 0.5);
        AudioEncoder encoder;
        QVERIFY(encoder.startRecording(first));
        writeBlocks(encoder, half, 2205);
        QSignalSpy files(&encoder, &AudioEncoder::fileStatus);
        QVERIFY(!encoder.startRecording(second));
        QVERIFY(!encoder.open(QIODevice::WriteOnly));
        QCOMPARE(files.count(), 0);
        QVERIFY(takeMessages().contains("Unable to start AudioEncoder"));
        QVERIFY(!QFile::exists(second));
        writeBlocks(encoder, half, 2205);
        encoder.stopRecording();
        const Sound sound = decodeMp3(first);
        QVERIFY2(qAbs(sound.seconds() - 1.0) < 0.1, qPrintable(QString::number(sound.seconds())));
    }

    // The device closes and takes no more blocks until it is started again.
    void fileThatCannotBeCreatedClosesTheDevice()
    {
        const QString file = path("no/such/folder/x.mp3");
        AudioEncoder encoder;
        encoder.start();
        QSignalSpy files(&encoder, &AudioEncoder::fileStatus);
        QSignalSpy failed(&encoder, &AudioEncoder::fileFailed);
        StdoutCapture capture;
        QVERIFY(!encoder.startRecording(file));
        QVERIFY2(capture.finish().contains("Failed to create file " + QFile::encodeName(file)),
                 "no message");
        QCOMPARE(files.count(), 1);
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.at(0), QVariantList({"notfound", "No such file or directory"}));
        QVERIFY(takeMessages().contains("Recording to " + file +
                                        " failed: notfound No such file or directory"));
        QVERIFY(!encoder.isOpen());
        encoder.start();
        QSignalSpy status(&encoder, &AudioEncoder::status);
        writeBlocks(encoder, tone(1000, 16384, 44100, 1, 0.05), 2205);
        QCOMPARE(status.count(), 1);
        QCOMPARE(status.at(0).at(0).value<uchar>(), uchar(0));
    }

    // A full disk, or a folder removed under the take, ends it with the reason; the file keeps
    // what was written and the meter reads "stop" from then on.
    void takeThatStopsBeingWrittenSaysWhy_data()
    {
        QTest::addColumn<bool>("removeFolder");
        QTest::addColumn<QString>("reason");
        QTest::newRow("disk full") << false << "full";
        QTest::newRow("folder removed") << true << "removed";
    }

    void takeThatStopsBeingWrittenSaysWhy()
    {
        QFETCH(bool, removeFolder);
        QFETCH(QString, reason);
        skipWithoutLameCommand();
        QTemporaryDir folder;
        const QString file = removeFolder ? folder.filePath("take.mp3") : "/dev/full";
        AudioEncoder encoder;
        QSignalSpy failed(&encoder, &AudioEncoder::fileFailed);
        QSignalSpy status(&encoder, &AudioEncoder::status);
        QVERIFY(encoder.startRecording(file));
        const QVector<short> second = tone(1000, 16384, 44100, 1, 1.0);
        writeBlocks(encoder, second, 4410);
        if (removeFolder) {
            QVERIFY(folder.remove());
            QTest::qWait(1100);
        }
        for (int i = 0; i < 12 && failed.isEmpty(); ++i)
            writeBlocks(encoder, second, 4410);
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.at(0).at(0).toString(), reason);
        QVERIFY(!failed.at(0).at(1).toString().isEmpty());
        status.clear();
        writeBlocks(encoder, second, 44100);
        QCOMPARE(status.count(), 1);
        QCOMPARE(status.at(0).at(0).value<uchar>(), uchar(0));
    }

    // A handler slower than the blocks come neither floods Lua nor holds up the stop.
    void slowMeterHandlerKeepsUp()
    {
        skipWithoutSoundServer();
        LuaFixture f;
        loadMediaModules(f);
        LUA_RUN(f, "function answer.onStatus() local t = os.clock() + 0.01 "
                   "while os.clock() < t do end return 0 end r = recorder.create() r:start()");
        GlobalObject recorder(f, "r", "AudioRecorder");
        EventLog log(f);
        QVERIFY(log.waitFor("onStatus stop \\d+"));
        log.take();
        const int levels = log.take(2000).filter(QRegularExpression("^onStatus")).size();
        QVERIFY2(levels >= 20 && levels <= 44, qPrintable(QString::number(levels)));
        QElapsedTimer clock;
        clock.start();
        LUA_RUN(f, "r:stop()");
        QVERIFY(log.waitFor("onFileStatus "));
        QVERIFY2(clock.elapsed() < 300, qPrintable(QString::number(clock.elapsed())));
    }

    void recordsThreeSecondsOfTheTone()
    {
        skipWithoutSoundServer();
        skipWithoutLameCommand();
        const QString file = path("three.mp3");
        LuaFixture f;
        EventLog log(f);
        QVERIFY(beginTake(f, log, file));
        GlobalObject recorder(f, "r", "AudioRecorder");
        log.take();
        QTest::qWait(3000);
        LUA_RUN(f, "r:recordstop()");
        QVERIFY(log.waitFor("onFileStatus "));
        const QStringList recorded = log.take().filter(QRegularExpression("^onStatus record"));
        QVERIFY2(recorded.size() >= 30, qPrintable(QString::number(recorded.size())));
        const QString atToneLevel = "onStatus record " + QString::number(toneLevel);
        QVERIFY2(recorded.count(atToneLevel) >= recorded.size() * 9 / 10,
                 qPrintable(recorded.join(", ")));
        QVERIFY(log.waitFor("onStatus stop " + QString::number(toneLevel)));
        const Sound sound = decodeMp3(file);
        QCOMPARE(sound.rate, 44100);
        QVERIFY2(sound.seconds() > 2.85 && sound.seconds() < 3.25,
                 qPrintable(QString::number(sound.seconds())));
        QVERIFY2(qAbs(sound.frequency() - 1000) < 15,
                 qPrintable(QString::number(sound.frequency())));
        QVERIFY2(qAbs(sound.amplitude() - 12288) < 1200,
                 qPrintable(QString::number(sound.amplitude())));
    }

    void statesFromLua()
    {
        skipWithoutSoundServer();
        skipWithoutLameCommand();
        const QString first = path("state-first.mp3");
        const QString second = path("state-second.mp3");
        const QString metering = QString("onStatus stop 23[5-7]");
        LuaFixture f;
        loadMediaModules(f);
        LUA_RUN(f, "r = recorder.create()");
        GlobalObject recorder(f, "r", "AudioRecorder");
        EventLog log(f);

        LUA_RUN(f, "r:recordstop()");
        QVERIFY(log.waitFor("onFileStatus "));
        QCOMPARE(log.take(300), QStringList{"onFileStatus "});

        LUA_RUN(f, "r:start()");
        QVERIFY(log.waitFor(metering));

        LUA_RUN(f, "r:record('" + first.toUtf8() + "')");
        QVERIFY(log.waitFor("onStatus record 23[5-7]"));
        QCOMPARE(fileEvents(log.take()), QStringList({"onFileStatus ", "onFileStatus " + first}));

        LUA_RUN(f, "r:record('" + second.toUtf8() + "')");
        QVERIFY(log.waitFor("onStatus record 23[5-7]"));
        QCOMPARE(fileEvents(log.take(300)), QStringList());
        QVERIFY(takeMessages().contains("Unable to start AudioEncoder"));
        QVERIFY(!QFile::exists(second));

        LUA_RUN(f, "r:recordstop()");
        QVERIFY(log.waitFor("onFileStatus "));
        log.take();
        QVERIFY(log.waitFor(metering));

        LUA_RUN(f, "r:stop()");
        QVERIFY(log.waitFor("onFileStatus "));
        const QStringList stopping = log.take();
        QCOMPARE(stopping.mid(stopping.size() - 2),
                 QStringList({"onStatus stop 0", "onFileStatus "}));
        QCOMPARE(log.take(300), QStringList());

        LUA_RUN(f, "r:start()");
        QVERIFY(log.waitFor(metering));
        QVERIFY(decodeMp3(first).seconds() > 0.2);
    }

    void recorderDestroyedWhileRecordingFinishesItsFile()
    {
        skipWithoutSoundServer();
        skipWithoutLameCommand();
        const QString file = path("destroyed-recorder.mp3");
        LuaFixture f;
        EventLog log(f);
        QVERIFY(beginTake(f, log, file));
        GlobalObject recorder(f, "r", "AudioRecorder");
        QTest::qWait(1000);
        LUA_RUN(f, "r:destroy()");
        QTRY_VERIFY(!recorder.isAlive());
        QVERIFY(!f.run("r:start()"));
        QVERIFY2(f.error.contains("attempting to access deleted AudioRecorder"),
                 qPrintable(f.error));
        const Sound sound = decodeMp3(file);
        QVERIFY2(sound.seconds() > 0.9 && sound.seconds() < 1.3,
                 qPrintable(QString::number(sound.seconds())));
    }

    // A take into a pipe nobody reads (storage that stopped answering) blocks the worker in its
    // write; destroying the recorder does not wait for it, and it ends once the pipe drains.
    void recorderStuckInAWriteIsLeftToFinish()
    {
        skipWithoutSoundServer();
        skipWithoutLameCommand();
        const QString file = path("stuck.mp3");
        QCOMPARE(mkfifo(QFile::encodeName(file).constData(), 0600), 0);
        const int reader = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(reader >= 0);
        fcntl(reader, F_SETPIPE_SZ, 4096);
        LuaFixture f;
        EventLog log(f);
        QVERIFY(beginTake(f, log, file));
        GlobalObject recorder(f, "r", "AudioRecorder");
        QTest::qWait(1500);
        QElapsedTimer clock;
        clock.start();
        LUA_RUN(f, "r:destroy()");
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const qint64 stall = clock.elapsed();
        QVERIFY(!recorder.isAlive());
        QVERIFY2(stall < 100, qPrintable(QString::number(stall)));
        char buffer[4096];
        ssize_t got = -1;
        for (QDeadlineTimer deadline(5000); got != 0 && !deadline.hasExpired();)
            if ((got = ::read(reader, buffer, sizeof buffer)) < 0)
                QTest::qWait(20);
        ::close(reader);
        QCOMPARE(got, ssize_t(0));
        QTest::qWait(50);
    }

    // The library is found through the loader's search path, as a real one would be, so the
    // recorder runs in a process of its own with the incomplete fake first on that path.
    void libraryWithoutAnEntryPointHaltsRecording()
    {
        skipWithoutSoundServer();
        const QString file = path("never.mp3");
        QTemporaryFile script;
        QVERIFY(script.open());
        script.write(laterFunction);
        script.write(QByteArray(R"(
local recorder = require 'recorder.core'
statuses = 0
function MsgHandler(handle, name, value)
    if name == 'onFileStatus' then print('file [' .. value .. ']') end
    if name == 'onStatus' then statuses = statuses + 1 end
    return 0
end
r = recorder.create()
r:record('FILE')
later(1500, function() print('halted ' .. statuses) statuses = 0 r:start() end)
later(3000, function() print('resumed ' .. statuses) r:destroy() end)
)")
                         .replace("FILE", file.toUtf8()));
        script.close();
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("LD_LIBRARY_PATH", QFileInfo(INCOMPLETE_LAME).absolutePath());
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationDirPath() + "/media-child",
                    {script.fileName(), "3500"});
        QVERIFY(child.waitForFinished(30000));
        const QString output = QString::fromLocal8Bit(child.readAll());
        QCOMPARE(child.exitCode(), 0);
        QVERIFY2(output.contains("Failed to load Lame MP3 Encoder"), qPrintable(output));
        QCOMPARE(output.count("file []"), 2);
        QVERIFY2(output.contains("halted 0\n"), qPrintable(output));
        const QRegularExpressionMatch resumed = QRegularExpression("resumed (\\d+)").match(output);
        QVERIFY2(resumed.hasMatch() && resumed.captured(1).toInt() >= 5, qPrintable(output));
        QVERIFY(!QFile::exists(file));
    }

    void badArgumentsAreLuaErrors()
    {
        LuaFixture f;
        loadMediaModules(f);
        LUA_RUN(f, "r = recorder.create()");
        GlobalObject recorder(f, "r", "AudioRecorder");
        QCOMPARE(f.eval("rawequal(require 'recorder.core', recorder)"), QString("true"));
        QCOMPARE(f.eval("recorder.__classname"), QString("AudioRecorder"));
        LUA_RUN(f, "r.label = 'mic'");
        QCOMPARE(f.eval("r.label"), QString("mic"));
        QCOMPARE(f.eval("rawget(recorder, 'label')"), QString("nil"));
        const struct {
            const char *chunk;
            const char *error;
        } cases[] = {
            {"r:record()", "string expected, got no value"},
            {"r:record({})", "string expected, got table"},
            {"r:record('a\\0b')", "zero byte"},
            {"recorder.start()", "AudioRecorder expected, got no value"},
            {"recorder.stop(qt.Timer.create())", "AudioRecorder expected, got userdata"},
        };
        for (const auto &c : cases) {
            QVERIFY2(!f.run(c.chunk), c.chunk);
            QVERIFY2(f.error.contains(c.error), qPrintable(f.error));
        }
        delete recorder.as<AudioRecorder>();
        QVERIFY(!f.run("r:recordstop()"));
        QVERIFY2(f.error.contains("attempting to access deleted AudioRecorder"),
                 qPrintable(f.error));
    }
};

QTEST_MAIN(TestAudioRecorder)
#include "tst_audiorecorder.moc"
