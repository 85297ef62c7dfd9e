#ifndef TIMER_H
#define TIMER_H

#include <lua.hpp>

#include <QObject>

class QTimer;

// A precise, repeating timer that calls onTimeout on its own Lua handle, and lives exactly as
// long as that handle.
class Timer : public QObject
{
    Q_OBJECT

public:
    Timer();
    ~Timer() override;

    QTimer *timer() const { return m_timer; }

public slots:
    void onTimeout();

private:
    QTimer *m_timer;
};

const luaL_Reg *timerFunctions();
const luaL_Reg *elapsedtimerFunctions();

#endif
