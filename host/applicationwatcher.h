#ifndef APPLICATIONWATCHER_H
#define APPLICATIONWATCHER_H

#include <QFileSystemWatcher>
#include <QMap>
#include <QStringList>
#include <QTimer>

// Watches the Lua application's folders and files and tells once a save has settled. Editors
// save in several steps (write in place, or write a copy and rename it), so it waits for a
// quiet moment and then compares the Lua files' contents with what it saw before.
class ApplicationWatcher : public QObject
{
    Q_OBJECT

public:
    explicit ApplicationWatcher(QObject *parent = nullptr);

    // Folders whose Lua files (and bundle.bin) count, replacing the previous ones; a tree counts
    // with every folder below it, also folders made later, and may itself be made later. The
    // files are read now, so a save from this moment on is a change.
    void watch(const QStringList &trees, const QStringList &folders);
    // More folders, whose files count as they are now.
    void addFolders(const QStringList &folders);

signals:
    void changed();

private:
    void look();
    void rearm();
    QStringList directories() const;
    QStringList files(const QStringList &directories) const;
    QMap<QString, QByteArray> contents(const QStringList &files) const;

    QFileSystemWatcher m_watcher;
    QTimer m_settle;
    QStringList m_trees;
    QStringList m_folders;
    QMap<QString, QByteArray> m_seen;
};

#endif
