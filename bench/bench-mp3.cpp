// Encoding a minute of sound into MP3 through Mp3Encoder, in the 50 ms blocks a recorder gets,
// against the lame command encoding the same samples with the same settings (LAME's defaults for
// 44.1 kHz mono, without ReplayGain analysis or a tag frame), medians of three rounds each.
// Also the worst stall of the main thread while a recorder records from the default input and a
// Lua MsgHandler takes every level report, against the same event loop idle. On a machine
// without a sound card run it through tests/media/with-pulse.sh.
#include "benchsupport.h"
#include "luax/luax.h"
#include "media/audiorecorder.h"
#include "media/mp3encoder.h"

#include <QApplication>
#include <QAudioDeviceInfo>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

static const int sampleRate = 44100;
static const int seconds = 60;
static const int blockSamples = 2205;
static const int rounds = 3;
static const int stallMs = 3000;

// A chord, a slow sweep and a little noise, so every band has work for the encoder.
static std::vector<short> makepcm()
{
    const double twoPi = 2 * std::acos(-1.0);
    std::vector<short> pcm(size_t(sampleRate) * seconds);
    unsigned noise = 12345;
    for (size_t i = 0; i < pcm.size(); ++i) {
        const double t = double(i) / sampleRate;
        noise = noise * 1103515245u + 12345u;
        const double value = 6000 * std::sin(twoPi * 220 * t) + 4000 * std::sin(twoPi * 330 * t) +
                             3000 * std::sin(twoPi * (800 + 400 * std::sin(t)) * t) +
                             double(int((noise >> 16) & 0x7ff) - 1024);
        pcm[i] = short(value);
    }
    return pcm;
}

static double encodeours(const std::vector<short> &pcm, const QString &file)
{
    QElapsedTimer timer;
    timer.start();
    Mp3Encoder encoder;
    if (encoder.open(QFile::encodeName(file).constData(), sampleRate, false) != 0)
        return -1;
    for (size_t at = 0; at < pcm.size(); at += blockSamples)
        encoder.encode(pcm.data() + at, int(std::min(pcm.size() - at, size_t(blockSamples))));
    encoder.finish();
    return timer.nsecsElapsed() / 1e9;
}

static double encodetheirs(const QString &raw, const QString &file)
{
    QElapsedTimer timer;
    timer.start();
    QProcess lame;
    lame.start("lame", {"--quiet", "-r", "-s", "44.1", "--bitwidth", "16", "--signed",
                        "--little-endian", "-m", "m", "--noreplaygain", "-t", raw, file});
    if (!lame.waitForFinished(120000) || lame.exitStatus() != QProcess::NormalExit ||
        lame.exitCode() != 0)
        return -1;
    return timer.nsecsElapsed() / 1e9;
}

static void runfor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The longest gap between the ticks of a 1 ms timer on the main thread.
static double worstgap(int ms)
{
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 worst = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        worst = std::max(worst, now - last);
        last = now;
    });
    last = clock.nsecsElapsed();
    tick.start();
    runfor(ms);
    return worst / 1e6;
}

static lua_Integer levels(lua_State *L)
{
    lua_getglobal(L, "levels");
    const lua_Integer count = lua_tointeger(L, -1);
    lua_pop(L, 1);
    return count;
}

static const char *const counting = R"(
levels = 0
function MsgHandler(handle, name)
    if name == 'onStatus' then levels = levels + 1 end
    return 0
end
)";

struct Stall {
    double idle = -1;
    double recording = -1;
    lua_Integer levels = 0;
};

// Measured from the first level report on, when capture is under way.
static Stall measurestall(lua_State *L, const QString &file)
{
    Stall stall;
    luaL_requiref(L, "recorder.core", luaopen_recorder_core, 0);
    lua_setglobal(L, "recorder");
    luaX_dostring(L, counting, nullptr);
    stall.idle = worstgap(stallMs);
    luaX_dostring(L, "r = recorder.create() r:record(...)", "%s",
                  QFile::encodeName(file).constData());
    for (int waited = 0; levels(L) == 0 && waited < 5000; waited += 50)
        runfor(50);
    const lua_Integer before = levels(L);
    if (before > 0) {
        stall.recording = worstgap(stallMs);
        stall.levels = levels(L) - before;
    }
    lua_getglobal(L, "r");
    delete static_cast<QObject *>(luaX_testclass(L, -1, "AudioRecorder"));
    lua_pop(L, 1);
    return stall;
}

int main(int argc, char **argv)
{
    useOffscreenUnlessSet();
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const std::vector<short> pcm = makepcm();
    const QString raw = dir.filePath("input.raw");
    QFile rawFile(raw);
    rawFile.open(QIODevice::WriteOnly);
    rawFile.write(reinterpret_cast<const char *>(pcm.data()), qint64(pcm.size() * sizeof(short)));
    rawFile.close();

    encodeours(pcm, dir.filePath("ours.mp3"));
    encodetheirs(raw, dir.filePath("theirs.mp3"));
    std::vector<double> ours;
    std::vector<double> theirs;
    for (int round = 0; round < rounds; ++round) {
        ours.push_back(encodeours(pcm, dir.filePath("ours.mp3")));
        theirs.push_back(encodetheirs(raw, dir.filePath("theirs.mp3")));
    }
    const qint64 oursSize = QFileInfo(dir.filePath("ours.mp3")).size();
    const qint64 theirsSize = QFileInfo(dir.filePath("theirs.mp3")).size();

    const bool hasInput = !QAudioDeviceInfo::defaultInputDevice().isNull();
    lua_State *L = newQtCoreState();
    const Stall stall = hasInput ? measurestall(L, dir.filePath("recorded.mp3")) : Stall();
    // Closing the interpreter says so on standard output: do it before the figures.
    lua_close(L);

    const double oursTime = median(ours);
    const double theirsTime = median(theirs);
    printf("Mp3Encoder: %d s of 44.1 kHz mono in %.3f s (%lld bytes)\n", seconds, oursTime,
           oursSize);
    printf("lame command: the same in %.3f s (%lld bytes)\n", theirsTime, theirsSize);
    if (!hasInput)
        printf("main-thread stall while recording: no default audio input\n");
    else if (stall.recording < 0)
        printf("main-thread stall while recording: the recorder reported no level\n");
    else
        printf("main-thread stall while recording: worst %.2f ms over %d ms, %lld level reports "
               "(idle loop: worst %.2f ms)\n",
               stall.recording, stallMs, static_cast<long long>(stall.levels), stall.idle);
    const bool measured = oursTime > 0 && theirsTime > 0;
    printf("ratio: %.3f\n", measured ? oursTime / theirsTime : 99.0);
    return 0;
}
