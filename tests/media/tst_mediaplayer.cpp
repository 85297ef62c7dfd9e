#include "common/luafixture.h"
#include "media/lamelibrary.h"
#include "media/mediaplayer.h"
#include "media/mp3encoder.h"
#include "soundcheck.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// Keeps every onStatus with its values; last() joins the latest seven with '|'.
static const char *const statusLog = R"(
statuses = {}
function MsgHandler(handle, name, ...)
    if name == 'onStatus' then statuses[#statuses + 1] = table.pack(...) end
    return 0
end
function last()
    local s = statuses[#statuses]
    return s.n .. ':' .. table.concat(s, '|', 1, s.n)
end
function now() return table.concat({p:status()}, '|') end
function dump()
    local lines = {}
    for _, s in ipairs(statuses) do lines[#lines + 1] = table.concat(s, '|', 1, s.n) end
    return table.concat(lines, '\n')
end
function playing(check)
    for _, s in ipairs(statuses) do
        if s[1] == 'play' and not check(s[3], s[5], s[6]) then return false end
    end
    return true
end
function highest(state)
    local top = -1
    for _, s in ipairs(statuses) do
        if s[1] == state and s[3] > top then top = s[3] end
    end
    return top
end
)";

class TestMediaPlayer : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_tone;

    // p: a player on six seconds of a 440 Hz sine at half scale, loaded and stopped at 0.
    static void openTone(LuaFixture &f, const QString &file)
    {
        loadMediaModules(f);
        LUA_RUN(f, statusLog);
        LUA_RUN(f, "p = player.create() p:open('" + file.toUtf8() + "')");
        QTRY_COMPARE(f.eval("now()"), QString("stop|loaded|0.0|6000.0|0.0|6000.0|"));
    }

    static QStringList now(LuaFixture &f) { return f.eval("now()").split('|'); }
    static double position(LuaFixture &f) { return now(f).value(2).toDouble(); }

private slots:
    void initTestCase()
    {
        if (!hasSoundServer())
            QSKIP("needs the sound server of tests/media/with-pulse.sh");
        m_tone = m_dir.filePath("tone.wav");
        QCOMPARE(QProcess::execute("sox", {"-n", "-r", "44100", "-c", "1", "-b", "16", m_tone,
                                           "synth", "6", "sine", "440", "vol", "0.5"}),
                 0);
    }

    void loadsAndReportsItsDuration()
    {
        LuaFixture f;
        loadMediaModules(f);
        LUA_RUN(f, statusLog);
        LUA_RUN(f, "p = player.create()");
        GlobalObject player(f, "p", "MediaPlayer");
        QCOMPARE(f.eval("p:duration()"), QString("0.0"));
        QCOMPARE(f.eval("now()"), QString("stop|nomedia|0.0|0.0|0.0|0.0|"));
        LUA_RUN(f, "p:open('" + m_tone.toUtf8() + "')");
        QTRY_COMPARE(f.eval("now()"), QString("stop|loaded|0.0|6000.0|0.0|6000.0|"));
        QCOMPARE(f.eval("p:duration()"), QString("6000.0"));
        QTRY_COMPARE(f.eval("last()"), QString("7:stop|loaded|0.0|6000.0|0.0|6000.0|"));
        QCOMPARE(player.as<MediaPlayer>()->notifyInterval(), 100);
    }

    void playTogglesWithPauseAndReportsPositions()
    {
        LuaFixture f;
        openTone(f, m_tone);
        GlobalObject player(f, "p", "MediaPlayer");
        LUA_RUN(f, "statuses = {} p:play()");
        QTRY_COMPARE(now(f).value(0), QString("play"));
        QTest::qWait(800);
        QVERIFY2(f.eval("#statuses >= 6") == "true", qPrintable(f.eval("#statuses")));
        const double played = f.eval("highest('play')").toDouble();
        QVERIFY2(played > 300 && played < 1300, qPrintable(QString::number(played)));
        LUA_RUN(f, "p:play()");
        QCOMPARE(now(f).value(0), QString("pause"));
        const double paused = position(f);
        QTest::qWait(300);
        QVERIFY(qAbs(position(f) - paused) < 50);
        LUA_RUN(f, "p:play()");
        QCOMPARE(now(f).value(0), QString("play"));
        QTRY_VERIFY(position(f) > paused + 200);
    }

    void fastForwardDoublesTheRate()
    {
        LuaFixture f;
        openTone(f, m_tone);
        GlobalObject player(f, "p", "MediaPlayer");
        LUA_RUN(f, "p:play()");
        QTRY_COMPARE(now(f).value(0), QString("play"));
        for (const qreal rate : {2.0, 4.0, 8.0, 2.0}) {
            LUA_RUN(f, "p:ffwd()");
            QCOMPARE(player.as<MediaPlayer>()->playbackRate(), rate);
            QCOMPARE(now(f).value(0), QString("ffwd"));
        }
        LUA_RUN(f, "p:play()");
        QCOMPARE(player.as<MediaPlayer>()->playbackRate(), 1.0);
        QCOMPARE(now(f).value(0), QString("play"));
    }

    void regionStopsPlaybackAndReturnsToItsStart()
    {
        LuaFixture f;
        openTone(f, m_tone);
        GlobalObject player(f, "p", "MediaPlayer");
        LUA_RUN(f, "p:setRegion(2000, 1000)");
        QCOMPARE(f.eval("now()"), QString("stop|loaded|1000.0|6000.0|0.0|1000.0|"));
        LUA_RUN(f, "statuses = {} p:play()");
        QTRY_COMPARE(now(f).value(0), QString("play"));
        QTRY_COMPARE_WITH_TIMEOUT(now(f).value(0), QString("stop"), 4000);
        QCOMPARE(position(f), 1000.0);
        const double reached = f.eval("highest('play')").toDouble();
        QVERIFY2(reached > 1800 && reached < 2300, qPrintable(QString::number(reached)));
        // A status may come a little past the region's end before the stop (a loaded machine).
        QVERIFY2(f.eval("playing(function(at, inRegion, length) "
                        "local offset = math.max(at - 1000, 0) "
                        "return (inRegion == offset or inRegion == math.min(offset, 1000)) "
                        "and length == 1000 end)") == "true",
                 qPrintable(f.eval("dump()")));

        // A region set while playing does not stop playback; the next stop arms it.
        LUA_RUN(f, "p:locate(0) p:play()");
        QTRY_COMPARE(now(f).value(0), QString("play"));
        LUA_RUN(f, "p:setRegion(0, 500)");
        QTest::qWait(900);
        QCOMPARE(now(f).value(0), QString("play"));
        QVERIFY(position(f) > 600);
        LUA_RUN(f, "p:stop()");
        QTRY_COMPARE(f.eval("now()"), QString("stop|loaded|0.0|6000.0|0.0|500.0|"));
    }

    void stepsWalkThroughTheMarks()
    {
        LuaFixture f;
        openTone(f, m_tone);
        GlobalObject player(f, "p", "MediaPlayer");
        LUA_RUN(f, "p:setRegion(1000, 2000)");
        const struct {
            const char *chunk;
            double position;
        } steps[] = {
            {"p:step(1)", 2000},
            {"p:step(1)", 6000},
            {"p:step(1)", 6000},
            {"p:step(-1)", 2000},
            {"p:step(-1)", 1000},
            {"p:step(-1)", 0},
            {"p:step(-1)", 0},
            {"p:step()", 1000},
            {"p:step('back')", 2000},
            {"p:step(-0.5)", 6000},
            {"p:step(-1)", 2000},
            // Within 800 ms of the mark it reached, a step back skips it...
            {"p:locate(2300) p:step(-1)", 1000},
            // ...further away it goes back to it.
            {"p:locate(2900) p:step(-1)", 2000},
        };
        for (const auto &step : steps) {
            LUA_RUN(f, step.chunk);
            QVERIFY2(position(f) == step.position, step.chunk);
        }
        QCOMPARE(f.eval("now()"), QString("stop|loaded|2000.0|6000.0|2000.0|6000.0|"));
        // A second after the step its mark is forgotten.
        QTest::qWait(1100);
        LUA_RUN(f, "p:locate(2300) p:step(-1)");
        QCOMPARE(position(f), 2000.0);
    }

    void locateKeepsTheRegionOnlyInsideIt()
    {
        LuaFixture f;
        openTone(f, m_tone);
        GlobalObject player(f, "p", "MediaPlayer");
        LUA_RUN(f, "p:setRegion(1000, 2000) p:locate(1500)");
        QCOMPARE(f.eval("now()"), QString("stop|loaded|1500.0|6000.0|500.0|1000.0|"));
        LUA_RUN(f, "p:locate(2000)");
        QCOMPARE(f.eval("now()"), QString("stop|loaded|2000.0|6000.0|2000.0|6000.0|"));
        LUA_RUN(f, "p:stop()");
        QCOMPARE(f.eval("now()"), QString("stop|loaded|1000.0|6000.0|0.0|1000.0|"));
        LUA_RUN(f, "p:locate(4000)");
        QCOMPARE(f.eval("now()"), QString("stop|loaded|4000.0|6000.0|4000.0|6000.0|"));
    }

    void playbackReachesTheSpeakers()
    {
        LuaFixture f;
        openTone(f, m_tone);
        GlobalObject player(f, "p", "MediaPlayer");
        LUA_RUN(f, "p:play()");
        QTRY_VERIFY(now(f).value(0) == "play" && position(f) > 300);
        const Sound heard = captureSource("speakers.monitor", 800);
        QVERIFY2(qAbs(heard.frequency() - 440) < 10,
                 qPrintable(QString::number(heard.frequency())));
        QVERIFY2(heard.peak() > 12000, qPrintable(QString::number(heard.peak())));
        LUA_RUN(f, "p:play()");
        QCOMPARE(now(f).value(0), QString("pause"));
        QTest::qWait(300);
        const Sound quiet = captureSource("speakers.monitor", 400);
        QVERIFY2(quiet.peak() < 300, qPrintable(QString::number(quiet.peak())));
    }

    // The next file starts afresh: without the error or the region of the one before, and a
    // relative path counts from the working folder.
    void unplayableFileReportsItsErrorAndTheNextStartsAfresh()
    {
        const QString file = m_dir.filePath("not-sound.wav");
        QFile text(file);
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("this is not sound at all\n");
        text.close();
        LuaFixture f;
        loadMediaModules(f);
        LUA_RUN(f, statusLog);
        LUA_RUN(f, "p = player.create() p:open('" + file.toUtf8() + "')");
        GlobalObject player(f, "p", "MediaPlayer");
        QTRY_COMPARE(now(f).value(1), QString("invalid"));
        QVERIFY(!now(f).value(6).isEmpty());
        QTRY_VERIFY(f.eval("statuses[#statuses][7] ~= ''") == "true");
        const QString working = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir.path()));
        LUA_RUN(f, "p:setRegion(1000, 2000) p:open('tone.wav')");
        QDir::setCurrent(working);
        QTRY_COMPARE(f.eval("now()"), QString("stop|loaded|0.0|6000.0|0.0|6000.0|"));
    }

    // The encoder's information frame gives a take just recorded its length at once.
    void freshTakeOpensWithItsLength()
    {
        const QString take = m_dir.filePath("take.mp3");
        {
            LameLibrary lame({"libmp3lame.so.0"});
            Mp3Encoder encoder(lame);
            QCOMPARE(encoder.open(QFile::encodeName(take).constData(), 44100, false), 0);
            const QVector<short> samples = tone(440, 16384, 44100, 1, 2.5);
            QCOMPARE(encoder.encode(samples.constData(), samples.size()), 0);
            QCOMPARE(encoder.finish(), 0);
        }
        LuaFixture f;
        loadMediaModules(f);
        LUA_RUN(f, statusLog);
        LUA_RUN(f, "p = player.create() p:open('" + take.toUtf8() + "')");
        QTRY_COMPARE(now(f).value(1), QString("loaded"));
        QTRY_VERIFY2(qAbs(now(f).value(3).toDouble() - 2500) <= 50, qPrintable(f.eval("now()")));
    }

    void badArgumentsAreLuaErrors()
    {
        LuaFixture f;
        loadMediaModules(f);
        LUA_RUN(f, "p = player.create({}) w = qt.QWidget.create(nil, false) q = player.create(w)");
        GlobalObject player(f, "p", "MediaPlayer");
        GlobalObject child(f, "q", "MediaPlayer");
        QCOMPARE(f.eval("rawequal(require 'player.core', player)"), QString("true"));
        QVERIFY(!player.as<MediaPlayer>()->parent());
        QCOMPARE(child.as<MediaPlayer>()->parent(), static_cast<QObject *>(f.widget("w")));
        const struct {
            const char *chunk;
            const char *error;
        } cases[] = {
            {"p:open()", "string expected, got no value"},
            {"p:open('a\\0b')", "zero byte"},
            {"p:locate()", "number expected, got no value"},
            {"p:locate(0/0)", "out of range"},
            {"p:locate(2^40)", "out of range"},
            {"p:setRegion(1e12)", "out of range"},
            {"p:setRegion(0, -1/0)", "out of range"},
            {"player.status(w)", "MediaPlayer expected, got userdata"},
            {"player.play()", "MediaPlayer expected, got no value"},
        };
        for (const auto &c : cases) {
            QVERIFY2(!f.run(c.chunk), c.chunk);
            QVERIFY2(f.error.contains(c.error), qPrintable(f.error));
        }
        LUA_RUN(f, "w:destroy()");
        QTRY_VERIFY(!child.isAlive());
        QVERIFY(!f.run("q:status()"));
        QVERIFY2(f.error.contains("attempting to access deleted MediaPlayer"), qPrintable(f.error));
    }
};

QTEST_MAIN(TestMediaPlayer)
#include "tst_mediaplayer.moc"
