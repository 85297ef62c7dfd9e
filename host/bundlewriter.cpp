#include "bundlewriter.h"

#include <QFile>
#include <QSaveFile>

static const int trailerSize = 16;

static QByteArray loaderSource()
{
    Q_INIT_RESOURCE(bundleloader);
    QFile file(":/host/bundleloader.lua");
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

BundleWriter::BundleWriter(const QString &applicationDirectory)
    : m_directory(QDir(applicationDirectory).absolutePath())
{
}

bool BundleWriter::fail(const QString &message)
{
    m_error = message;
    return false;
}

bool BundleWriter::addLuaFiles()
{
    if (!m_directory.exists())
        return fail(QString("%1 is not a folder").arg(m_directory.path()));
    if (!m_directory.exists("remote/init.lua") && !m_directory.exists("remote.lua"))
        return fail(
            QString("%1 holds neither remote/init.lua nor remote.lua").arg(m_directory.path()));
    return addLuaFolder(QString(), {});
}

// Linked folders count under their own names, as they do for loose files; a link back to a
// folder on the way down is not followed again.
bool BundleWriter::addLuaFolder(const QString &relativePath, QStringList ancestors)
{
    const QDir folder(m_directory.filePath(relativePath));
    const QString canonical = folder.canonicalPath();
    if (ancestors.contains(canonical))
        return true;
    ancestors << canonical;
    const QFileInfoList entries =
        folder.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &entry : entries) {
        const QString path =
            relativePath.isEmpty() ? entry.fileName() : relativePath + '/' + entry.fileName();
        const bool ok = entry.isDir()             ? addLuaFolder(path, ancestors)
                        : entry.suffix() == "lua" ? addFile(path)
                                                  : true;
        if (!ok)
            return false;
    }
    return true;
}

bool BundleWriter::addFile(const QString &name)
{
    const QString path = QDir::cleanPath(m_directory.relativeFilePath(name));
    if (path.contains('\t') || path.contains('\n'))
        return fail(QString("%1: a tab or a line break in a file name cannot be packed").arg(path));
    if (QDir::isAbsolutePath(path) || path == ".." || path.startsWith("../"))
        return fail(QString("%1 is not inside %2").arg(path, m_directory.path()));
    QFile file(m_directory.filePath(path));
    if (!file.open(QIODevice::ReadOnly))
        return fail(QString("%1: %2").arg(file.fileName(), file.errorString()));
    m_files.insert(path, file.readAll());
    return true;
}

static QByteArray packed(const QMap<QString, QByteArray> &files)
{
    QByteArray content = "REMOTE BUNDLE 1\n";
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        content +=
            it.key().toUtf8() + '\t' + QByteArray::number(it.value().size()) + '\n' + it.value();
    const QByteArray loader = loaderSource();
    content += loader;
    content += QByteArray::number(loader.size()).leftJustified(trailerSize, ' ');
    return content;
}

bool BundleWriter::write(const QString &fileName)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return fail(QString("%1: %2").arg(fileName, file.errorString()));
    file.write(packed(m_files));
    if (!file.commit())
        return fail(QString("%1: %2").arg(fileName, file.errorString()));
    return true;
}
