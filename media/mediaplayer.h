#ifndef MEDIAPLAYER_H
#define MEDIAPLAYER_H

#include <lua.hpp>

#include <QByteArray>
#include <QMediaPlayer>

class QTimer;

// What onStatus and status report, in that order.
struct PlayerStatus {
    const char *state;
    const char *media;
    double position;
    double duration;
    double regionPosition;
    double regionDuration;
    QByteArray error; // empty when there is none
};

// A media player with transport keys for Lua: play and pause on one key, fast forward in
// doubling rates, stop that returns to the start of the play region, steps between marks.
// An armed region stops playback at its end and returns to its start. Times are milliseconds.
class MediaPlayer : public QMediaPlayer
{
    Q_OBJECT

public:
    explicit MediaPlayer(QObject *parent = nullptr);
    ~MediaPlayer() override;

    void open(const QString &path);
    void togglePlay();
    void stopToStart();
    void fastForward();
    void locate(qint64 position);
    void setRegion(qint64 start, qint64 end);
    void step(int direction);
    qint64 clampedDuration() const;
    PlayerStatus status() const;

private slots:
    void onDurationChanged(qint64 duration);
    void onPositionChanged(qint64 position);
    void onStateChanged(QMediaPlayer::State state);
    void onMediaStatusChanged(QMediaPlayer::MediaStatus status);
    void onError(QMediaPlayer::Error error);
    void onStepTimeout();

private:
    bool regionActive() const;
    qint64 effectiveStart() const;
    qint64 effectiveEnd() const;
    qint64 clampedPosition() const;
    qint64 regionPosition(qint64 position) const;
    qint64 regionDuration() const;
    void armRegion(bool armed);
    void deliverStatus();

    qint64 m_regionStart = 0;
    qint64 m_regionEnd;
    bool m_regionArmed = false;
    qint64 m_stepTarget = -1;
    QTimer *m_stepTimer;
    QByteArray m_error;
};

// C linkage: the host looks the opener up by name in the module's shared object.
extern "C" int luaopen_player_core(lua_State *L);

#endif
