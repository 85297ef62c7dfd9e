#ifndef APPLICATIONWATCHER_H
#define APPLICATIONWATCHER_H

#include <QFileSystemWatcher>
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

    // Folders whose Lua files (and bundle.bin) count; the previous set is replaced.
    void watch(const QStringList &directories);

signals:
    void changed();

private:
    void look();
    void rearm();
    QStringList files() const;
    QByteArray signature() const;

    QFileSystemWatcher m_watcher;
    QTimer m_settle;
    QStringList m_directories;
    QByteArray m_signature;
};

#endif
