#ifndef HOSTTREE_H
#define HOSTTREE_H

#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

class QProcess;

struct HostResult {
    int exitCode;
    bool finished;
    QString output;
};

// A temporary tree that runs the real host: a copy of the program in root/build/bin, the Lua
// application two directories above it (root/remote.lua, written by the test), or a bundle.bin
// beside the program. Each tree has its own temporary directory, so copies in different trees
// never meet through the single-instance guard.
class HostTree
{
public:
    HostTree();

    QString root() const { return m_dir.path(); }
    QString binDirectory() const { return m_dir.path() + "/build/bin"; }
    void writeFile(const QString &relativePath, const QByteArray &content);
    void writeApplication(const QByteArray &source) { writeFile("remote.lua", source); }
    void writeBundle(const QByteArray &content) { writeFile("build/bin/bundle.bin", content); }
    QProcessEnvironment environment() const;
    void setEnvironment(const QString &name, const QString &value) { m_extra.insert(name, value); }

    // Starts the host in the tree's root directory, so log.txt lands there.
    void start(QProcess &process, const QStringList &arguments = {}) const;
    HostResult run(const QStringList &arguments = {}, int timeoutMs = 20000) const;
    // Waits until log.txt (written unbuffered by a host started with -df) holds the text the
    // given number of times.
    bool waitForLog(const QByteArray &text, int count = 1) const;

private:
    QTemporaryDir m_dir;
    QProcessEnvironment m_extra;
};

// Lua for a test application: quits once the event loop runs (a widget destroyed before the
// loop dies as soon as it starts, and its __deleted closes the main window).
extern const char *const quitWhenRunning;

// Lua for tests: the global later(ms, f) runs f once after ms milliseconds.
extern const char *const laterFunction;

#endif
