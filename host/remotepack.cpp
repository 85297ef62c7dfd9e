// remote-pack APPDIR -o OUT [-a FILE]...: packs an application folder into a bundle.bin.

#include "bundlewriter.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

static const char *const usage =
    "Usage: remote-pack APPDIR -o OUT [-a FILE]...\n"
    "Packs every Lua file below APPDIR (the folder holding remote/init.lua or remote.lua, and\n"
    "modules/) into OUT, a bundle.bin for the remote host. require finds each module under the\n"
    "name it has as a loose file. -a adds another file inside APPDIR (relative to it, or\n"
    "absolute), which the application reads with require('bundle').read(path).\n";

static int fail(const QString &message)
{
    fprintf(stderr, "remote-pack: %s\n", qPrintable(message));
    return 1;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    QString directory, output;
    QStringList extras;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == "-h" || argument == "--help") {
            fputs(usage, stdout);
            return 0;
        }
        if (argument == "-o" && i + 1 < arguments.size())
            output = arguments.at(++i);
        else if (argument == "-a" && i + 1 < arguments.size())
            extras << arguments.at(++i);
        else if (directory.isEmpty() && !argument.startsWith('-'))
            directory = argument;
        else
            return fail(QString("unexpected argument %1\n%2").arg(argument, usage));
    }
    if (directory.isEmpty() || output.isEmpty())
        return fail(usage);
    BundleWriter writer(directory);
    bool ok = writer.addLuaFiles();
    for (const QString &extra : qAsConst(extras))
        ok = ok && writer.addFile(extra);
    if (!ok || !writer.write(output))
        return fail(writer.errorString());
    printf("packed %d files into %s\n", writer.fileCount(), qPrintable(output));
    return 0;
}
