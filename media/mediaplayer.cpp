#include "mediaplayer.h"

#include "luax/luax.h"
#include "luax/objecttracker.h"

#include <QDebug>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <initializer_list>
#include <utility>

static const qint64 regionLimit = 2147483647;

MediaPlayer::MediaPlayer(QObject *parent)
    : QMediaPlayer(parent), m_regionEnd(regionLimit), m_stepTimer(new QTimer(this))
{
    connect(this, &QMediaPlayer::durationChanged, this, &MediaPlayer::onDurationChanged);
    connect(this, &QMediaPlayer::positionChanged, this, &MediaPlayer::onPositionChanged);
    connect(this, &QMediaPlayer::mediaStatusChanged, this, &MediaPlayer::onMediaStatusChanged);
    connect(this, &QMediaPlayer::stateChanged, this, &MediaPlayer::onStateChanged);
    connect(this, QOverload<QMediaPlayer::Error>::of(&QMediaPlayer::error), this,
            &MediaPlayer::onError);
    setNotifyInterval(100);
    m_stepTimer->setSingleShot(true);
    connect(m_stepTimer, &QTimer::timeout, this, &MediaPlayer::onStepTimeout);
}

MediaPlayer::~MediaPlayer()
{
    ObjectTracker::release(this);
}

bool MediaPlayer::regionActive() const
{
    return m_regionArmed && m_regionStart < m_regionEnd;
}

qint64 MediaPlayer::effectiveStart() const
{
    return regionActive() ? m_regionStart : 0;
}

qint64 MediaPlayer::effectiveEnd() const
{
    return regionActive() && m_regionEnd <= regionLimit ? m_regionEnd : regionLimit;
}

qint64 MediaPlayer::clampedPosition() const
{
    return std::max<qint64>(position(), 0);
}

qint64 MediaPlayer::clampedDuration() const
{
    return std::max<qint64>(duration(), 0);
}

// Past the end of the region (the stop comes up to one notify interval late) the position
// reads as the region's end.
qint64 MediaPlayer::regionPosition(qint64 position) const
{
    if (!regionActive())
        return position;
    const qint64 at =
        position >= effectiveEnd() ? std::min(clampedDuration(), m_regionEnd) : position;
    return std::max<qint64>(at - m_regionStart, 0);
}

qint64 MediaPlayer::regionDuration() const
{
    if (!regionActive())
        return clampedDuration();
    return std::max<qint64>(std::min(clampedDuration(), m_regionEnd) - m_regionStart, 0);
}

void MediaPlayer::armRegion(bool armed)
{
    if (m_regionStart > m_regionEnd)
        std::swap(m_regionStart, m_regionEnd);
    m_regionArmed = armed;
}

static const char *stateword(QMediaPlayer::State state, qreal rate)
{
    switch (state) {
    case QMediaPlayer::PlayingState:
        return rate > 1.0 ? "ffwd" : "play";
    case QMediaPlayer::PausedState:
        return "pause";
    default:
        return "stop";
    }
}

static const char *mediaword(QMediaPlayer::MediaStatus status)
{
    switch (status) {
    case QMediaPlayer::NoMedia:
        return "nomedia";
    case QMediaPlayer::LoadingMedia:
        return "loading";
    case QMediaPlayer::LoadedMedia:
        return "loaded";
    case QMediaPlayer::StalledMedia:
        return "stalled";
    case QMediaPlayer::BufferingMedia:
        return "buffering";
    case QMediaPlayer::BufferedMedia:
        return "buffered";
    case QMediaPlayer::EndOfMedia:
        return "end";
    case QMediaPlayer::InvalidMedia:
        return "invalid";
    default:
        return "unknown";
    }
}

PlayerStatus MediaPlayer::status() const
{
    // One reading of the position for both values: playback moves it on between two readings.
    const qint64 position = clampedPosition();
    return {stateword(state(), playbackRate()),
            mediaword(mediaStatus()),
            static_cast<double>(position),
            static_cast<double>(clampedDuration()),
            static_cast<double>(regionPosition(position)),
            static_cast<double>(regionDuration()),
            m_error};
}

void MediaPlayer::deliverStatus()
{
    ObjectTracker *tracker = ObjectTracker::forObject(this);
    if (!tracker)
        return;
    const PlayerStatus s = status();
    LuaMsgHandler(tracker, this, "onStatus", "%s %s %f %f %f %f %s", s.state, s.media, s.position,
                  s.duration, s.regionPosition, s.regionDuration, s.error.constData());
}

// A new file starts afresh: no region, no step target, no error of the file before. A relative
// path counts from the working folder, as it does for the recorder.
void MediaPlayer::open(const QString &path)
{
    qDebug().noquote() << "open" << path;
    m_regionStart = 0;
    m_regionEnd = regionLimit;
    m_regionArmed = false;
    m_stepTarget = -1;
    m_stepTimer->stop();
    m_error.clear();
    setMedia(QMediaContent(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath())));
}

// Playing toggles with pause, and leaves fast forward for normal speed. A position outside the
// region plays the region from its start: from its end, playback would stop at once.
void MediaPlayer::togglePlay()
{
    qDebug() << "play";
    if (state() == PlayingState) {
        if (playbackRate() > 1.0)
            setPlaybackRate(1.0);
        else
            pause();
        return;
    }
    const QPointer<MediaPlayer> self(this);
    const qint64 position = clampedPosition();
    if (position < effectiveStart() || position > effectiveEnd())
        setPosition(effectiveStart());
    if (self)
        setPlaybackRate(1.0);
    if (self)
        play();
}

// Each call into the toolkit may deliver a status to Lua first.
void MediaPlayer::stopToStart()
{
    qDebug() << "stop";
    const QPointer<MediaPlayer> self(this);
    stop();
    if (!self)
        return;
    armRegion(true);
    setPosition(effectiveStart());
}

void MediaPlayer::fastForward()
{
    qDebug() << "ffwd";
    armRegion(false);
    const qreal rate = playbackRate();
    const QPointer<MediaPlayer> self(this);
    setPlaybackRate(rate >= 8.0 || rate < 1.0 ? 2.0 : rate * 2);
    if (self)
        play();
}

void MediaPlayer::locate(qint64 position)
{
    position = std::max<qint64>(position, 0);
    if (position < effectiveStart() || position >= effectiveEnd())
        armRegion(false);
    const QPointer<MediaPlayer> self(this);
    if (playbackRate() > 1.0)
        stop();
    if (self)
        setPosition(position);
}

// A region set during playback takes effect at the next stop.
void MediaPlayer::setRegion(qint64 start, qint64 end)
{
    m_regionStart = start < 0 ? 0 : start;
    m_regionEnd = end < 0 ? regionLimit : end;
    const bool stopped = state() == StoppedState;
    armRegion(stopped);
    if (stopped)
        setPosition(effectiveStart());
}

// The marks are the media's ends and the region's. A backward step within a second of the
// last one skips the mark it reached, even with playback a little past it, so repeated steps
// walk back through the marks.
void MediaPlayer::step(int direction)
{
    const qint64 position = clampedPosition();
    qDebug() << "doStep" << m_stepTarget << position;
    const qint64 duration = clampedDuration();
    const qint64 regionEnd = std::min(duration, m_regionEnd);
    qint64 target = position;
    if (direction < 0) {
        if (m_stepTarget >= 0 && position > m_stepTarget + 800)
            m_stepTarget = -1;
        for (const qint64 mark : {duration, regionEnd, m_regionStart, qint64(0)}) {
            if (mark < position && mark != m_stepTarget) {
                target = mark;
                break;
            }
        }
    } else {
        for (const qint64 mark : {qint64(0), m_regionStart, regionEnd, duration}) {
            if (mark > position) {
                target = mark;
                break;
            }
        }
    }
    m_stepTarget = target;
    m_stepTimer->start(1000);
    armRegion(false);
    setPosition(target);
}

void MediaPlayer::onDurationChanged(qint64)
{
    deliverStatus();
}

void MediaPlayer::onPositionChanged(qint64 position)
{
    const QPointer<MediaPlayer> self(this);
    deliverStatus();
    if (self && std::max<qint64>(position, 0) > effectiveEnd())
        stopToStart();
}

void MediaPlayer::onStateChanged(QMediaPlayer::State state)
{
    qDebug() << "onStateChanged" << state;
    deliverStatus();
}

void MediaPlayer::onMediaStatusChanged(QMediaPlayer::MediaStatus status)
{
    qDebug() << "onMediaStatusChanged" << status;
    const QPointer<MediaPlayer> self(this);
    deliverStatus();
    if (!self)
        return;
    if (status == LoadedMedia)
        setPosition(effectiveStart());
    else if (status == EndOfMedia)
        stopToStart();
}

// An error need not change the media status, and Lua learns of it only through onStatus.
void MediaPlayer::onError(QMediaPlayer::Error error)
{
    m_error = error == NoError ? QByteArray() : errorString().toLocal8Bit();
    deliverStatus();
}

void MediaPlayer::onStepTimeout()
{
    qDebug() << "MediaPlayer::onStepTimeout";
    m_stepTarget = -1;
}

static MediaPlayer *checkplayer(lua_State *L, int index)
{
    return static_cast<MediaPlayer *>(
        static_cast<QObject *>(luaX_checkclass(L, index, "MediaPlayer")));
}

static int lmediaplayer_create(lua_State *L)
{
    auto *parent = static_cast<QObject *>(luaX_testclass(L, 1, "QObject"));
    luaX_pushobject(L, static_cast<QObject *>(new MediaPlayer(parent)), "MediaPlayer",
                    LUAX_BORROWED);
    return 1;
}

// The path goes to the toolkit as a file name: one holding a zero byte is refused.
static int lmediaplayer_open(lua_State *L)
{
    MediaPlayer *player = checkplayer(L, 1);
    player->open(QString::fromUtf8(luaX_checkname(L, 2)));
    return 0;
}

static int lmediaplayer_play(lua_State *L)
{
    checkplayer(L, 1)->togglePlay();
    return 0;
}

static int lmediaplayer_stop(lua_State *L)
{
    checkplayer(L, 1)->stopToStart();
    return 0;
}

static int lmediaplayer_pause(lua_State *L)
{
    MediaPlayer *player = checkplayer(L, 1);
    qDebug() << "pause";
    player->pause();
    return 0;
}

static int lmediaplayer_ffwd(lua_State *L)
{
    checkplayer(L, 1)->fastForward();
    return 0;
}

static int lmediaplayer_status(lua_State *L)
{
    const PlayerStatus status = checkplayer(L, 1)->status();
    return luaX_pushargsf(L, "%s %s %f %f %f %f %s", status.state, status.media, status.position,
                          status.duration, status.regionPosition, status.regionDuration,
                          status.error.constData());
}

static int lmediaplayer_locate(lua_State *L)
{
    MediaPlayer *player = checkplayer(L, 1);
    player->locate(luaX_checkint(L, 2));
    return 0;
}

static int lmediaplayer_duration(lua_State *L)
{
    lua_pushnumber(L, static_cast<lua_Number>(checkplayer(L, 1)->clampedDuration()));
    return 1;
}

static int lmediaplayer_setRegion(lua_State *L)
{
    MediaPlayer *player = checkplayer(L, 1);
    const int start = luaX_optint(L, 2, -1);
    const int end = luaX_optint(L, 3, -1);
    player->setRegion(start, end);
    return 0;
}

// Anything but a number steps forward.
static int lmediaplayer_step(lua_State *L)
{
    MediaPlayer *player = checkplayer(L, 1);
    player->step(luaX_truncate(lua_tonumber(L, 2)));
    return 0;
}

static const luaL_Reg mediaplayer_functions[] = {
    {"create", lmediaplayer_create},     {"open", lmediaplayer_open},
    {"play", lmediaplayer_play},         {"stop", lmediaplayer_stop},
    {"pause", lmediaplayer_pause},       {"ffwd", lmediaplayer_ffwd},
    {"status", lmediaplayer_status},     {"locate", lmediaplayer_locate},
    {"duration", lmediaplayer_duration}, {"setRegion", lmediaplayer_setRegion},
    {"step", lmediaplayer_step},         {nullptr, nullptr},
};

int luaopen_player_core(lua_State *L)
{
    luaX_createclass(L, "MediaPlayer", mediaplayer_functions, "QObject", false, false);
    luaL_getmetatable(L, "MediaPlayer");
    return 1;
}
