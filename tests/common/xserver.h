#ifndef XSERVER_H
#define XSERVER_H

#include <QProcess>
#include <QStringList>

// A private X server for tests that need a real window system (drags, message boxes answered
// with xdotool). It has no window manager: windows sit where the program puts them.
class HostTree;

class XServer
{
public:
    ~XServer();

    bool start();
    QString display() const { return m_display; }
    // Makes the tree's host run on this server.
    void use(HostTree &tree) const;
    // Runs xdotool with these arguments against this server.
    bool xdotool(const QStringList &arguments, QByteArray *output = nullptr);

private:
    QProcess m_process;
    QString m_display;
};

#endif
