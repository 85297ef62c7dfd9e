#ifndef CAPTURE_H
#define CAPTURE_H

#include <QByteArray>
#include <QFile>
#include <QMutex>
#include <QStringList>
#include <QTemporaryFile>

#include <cstdio>
#include <unistd.h>

// Collects what every thread of the process writes to standard output, from construction
// until text(). Take the text before verifying: the test log goes to standard output too.
class StdoutCapture
{
public:
    StdoutCapture()
    {
        m_file.open();
        fflush(stdout);
        m_saved = dup(STDOUT_FILENO);
        dup2(m_file.handle(), STDOUT_FILENO);
    }
    ~StdoutCapture() { restore(); }
    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;

    QByteArray text()
    {
        restore();
        QFile file(m_file.fileName());
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    }

private:
    void restore()
    {
        if (m_saved < 0)
            return;
        fflush(stdout);
        dup2(m_saved, STDOUT_FILENO);
        close(m_saved);
        m_saved = -1;
    }

    QTemporaryFile m_file;
    int m_saved = -1;
};

// Collects the Qt message log, from every thread, while it lives; Qt Test would otherwise
// write it into the test log.
class DebugCapture
{
public:
    DebugCapture()
    {
        const QMutexLocker locker(&mutex());
        messages().clear();
        m_previous = qInstallMessageHandler(collect);
    }
    ~DebugCapture() { qInstallMessageHandler(m_previous); }
    DebugCapture(const DebugCapture &) = delete;
    DebugCapture &operator=(const DebugCapture &) = delete;

    QStringList lines() const
    {
        const QMutexLocker locker(&mutex());
        return messages();
    }

private:
    static void collect(QtMsgType, const QMessageLogContext &, const QString &message)
    {
        const QMutexLocker locker(&mutex());
        messages() << message;
    }
    static QMutex &mutex()
    {
        static QMutex m;
        return m;
    }
    static QStringList &messages()
    {
        static QStringList list;
        return list;
    }

    QtMessageHandler m_previous;
};

#endif
