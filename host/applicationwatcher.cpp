#include "applicationwatcher.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

static const int settleMs = 200;

static QStringList cleanFolders(const QStringList &paths)
{
    QStringList folders;
    for (const QString &path : paths)
        if (!path.isEmpty())
            folders << QDir::cleanPath(path);
    folders.removeDuplicates();
    return folders;
}

ApplicationWatcher::ApplicationWatcher(QObject *parent) : QObject(parent)
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(settleMs);
    connect(&m_settle, &QTimer::timeout, this, &ApplicationWatcher::look);
    const auto settle = [this] { m_settle.start(); };
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, settle);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, settle);
}

void ApplicationWatcher::watch(const QStringList &trees, const QStringList &folders)
{
    m_trees = cleanFolders(trees);
    m_folders = cleanFolders(folders);
    m_seen = contents(files(directories()));
    rearm();
}

void ApplicationWatcher::addFolders(const QStringList &folders)
{
    const QStringList known = directories();
    QStringList added;
    for (const QString &folder : cleanFolders(folders))
        if (!known.contains(folder))
            added << folder;
    m_folders << added;
    m_seen.insert(contents(files(added)));
    // Setting the watches afresh drops what they reported meanwhile (a save during the start):
    // one look soon compares everything with what was read before the start.
    rearm();
    m_settle.start();
}

QStringList ApplicationWatcher::directories() const
{
    QStringList list = m_folders;
    for (const QString &tree : m_trees) {
        list << tree;
        QDirIterator it(tree, QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (it.hasNext())
            list << it.next();
    }
    list.removeDuplicates();
    return list;
}

QStringList ApplicationWatcher::files(const QStringList &directories) const
{
    QStringList list;
    for (const QString &directory : directories) {
        const QDir dir(directory);
        for (const QString &name : dir.entryList({"*.lua", "bundle.bin"}, QDir::Files))
            list << dir.filePath(name);
    }
    return list;
}

QMap<QString, QByteArray> ApplicationWatcher::contents(const QStringList &files) const
{
    QMap<QString, QByteArray> map;
    for (const QString &name : files) {
        QFile file(name);
        QCryptographicHash hash(QCryptographicHash::Sha1);
        if (file.open(QIODevice::ReadOnly))
            hash.addData(&file);
        map.insert(name, hash.result());
    }
    return map;
}

// A file replaced by a rename is a new file, and a tree may have been made since: the watches
// are set afresh after every look.
void ApplicationWatcher::rearm()
{
    const QStringList watched = m_watcher.files() + m_watcher.directories();
    if (!watched.isEmpty())
        m_watcher.removePaths(watched);
    QStringList folders;
    for (const QString &folder : directories())
        if (QFileInfo(folder).isDir())
            folders << folder;
    const QStringList paths = folders + files(folders);
    if (!paths.isEmpty())
        m_watcher.addPaths(paths);
}

void ApplicationWatcher::look()
{
    rearm();
    const QMap<QString, QByteArray> now = contents(files(directories()));
    if (now == m_seen)
        return;
    m_seen = now;
    emit changed();
}
