#include "benchsupport.h"

#include "luax/luax.h"
#include "luax/qtcoremodule.h"

#include <QtGlobal>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>

void useOffscreenUnlessSet()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

lua_State *newQtCoreState()
{
    lua_State *L = luaX_newstate();
    luaL_requiref(L, "qt.core", luaopen_qt_core, 0);
    lua_setglobal(L, "qt");
    return L;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

static void makeraw(int fd)
{
    termios settings;
    tcgetattr(fd, &settings);
    cfmakeraw(&settings);
    tcsetattr(fd, TCSANOW, &settings);
}

bool openptypair(PtyPair *pair)
{
    pair->master = posix_openpt(O_RDWR | O_NOCTTY);
    if (pair->master < 0 || grantpt(pair->master) != 0 || unlockpt(pair->master) != 0)
        return false;
    makeraw(pair->master);
    pair->path = ptsname(pair->master);
    pair->slave = open(pair->path.constData(), O_RDWR | O_NOCTTY);
    if (pair->slave < 0)
        return false;
    makeraw(pair->slave);
    return true;
}
