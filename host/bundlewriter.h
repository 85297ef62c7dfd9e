#ifndef BUNDLEWRITER_H
#define BUNDLEWRITER_H

#include <QByteArray>
#include <QDir>
#include <QMap>
#include <QString>

// Packs an application folder into one bundle.bin: the packed files, the loader that makes them
// reachable to require, and the trailer holding the loader's length.
class BundleWriter
{
public:
    explicit BundleWriter(const QString &applicationDirectory);

    // Every Lua file below the folder, hidden folders and files left out, linked folders in.
    bool addLuaFiles();
    // Any other file inside the folder, by its path relative to the folder or an absolute one.
    bool addFile(const QString &name);
    bool write(const QString &fileName);

    int fileCount() const { return m_files.size(); }
    QString errorString() const { return m_error; }

private:
    bool addLuaFolder(const QString &relativePath, QStringList ancestors);
    bool fail(const QString &message);

    QDir m_directory;
    QMap<QString, QByteArray> m_files;
    QString m_error;
};

#endif
