#include "applicationwatcher.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

static const int settleMs = 200;

ApplicationWatcher::ApplicationWatcher(QObject *parent) : QObject(parent)
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(settleMs);
    connect(&m_settle, &QTimer::timeout, this, &ApplicationWatcher::look);
    const auto settle = [this] { m_settle.start(); };
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, settle);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, settle);
}

void ApplicationWatcher::watch(const QStringList &directories)
{
    m_directories.clear();
    for (const QString &directory : directories) {
        const QString path = QDir::cleanPath(directory);
        if (QFileInfo(path).isDir() && !m_directories.contains(path))
            m_directories << path;
    }
    m_signature = signature();
    rearm();
}

QStringList ApplicationWatcher::files() const
{
    QStringList list;
    for (const QString &directory : m_directories) {
        const QDir dir(directory);
        for (const QString &name : dir.entryList({"*.lua", "bundle.bin"}, QDir::Files))
            list << dir.filePath(name);
    }
    return list;
}

QByteArray ApplicationWatcher::signature() const
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    for (const QString &name : files()) {
        QFile file(name);
        hash.addData(name.toUtf8());
        if (file.open(QIODevice::ReadOnly))
            hash.addData(&file);
    }
    return hash.result();
}

// A file replaced by a rename is a new file: the watches are set afresh after every look.
void ApplicationWatcher::rearm()
{
    const QStringList watched = m_watcher.files() + m_watcher.directories();
    if (!watched.isEmpty())
        m_watcher.removePaths(watched);
    const QStringList paths = m_directories + files();
    if (!paths.isEmpty())
        m_watcher.addPaths(paths);
}

void ApplicationWatcher::look()
{
    rearm();
    const QByteArray now = signature();
    if (now == m_signature)
        return;
    m_signature = now;
    emit changed();
}
