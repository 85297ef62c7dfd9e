// remote-pack and the loader it puts into bundle.bin, run through the real host.

#include "common/hosttree.h"

#include <QtTest>

// An application spread over the places the host searches, printing what it finds.
static const QMap<QString, QByteArray> application = {
    {"remote/init.lua", R"(
local util = require 'remote.util'
local helper = require 'helper'
print('app: util', util.name, select(2, ...) ~= nil)
print('app: helper', helper.name)
print('app: both', require 'both')
print('app: nested', require('remote.pages.first').name)
print('app: linked', require('linked.tool'))
local ok, message = pcall(require, 'remote.bad')
print('app: bad', ok, message:match('bad%.lua:%d+: [^\n]*'))
print('app: missing', (pcall(require, 'nowhere')))
function MsgHandler(_, event)
    if event == 'onStartup' then mainWindow:close() end
    return 0
end
)"},
    {"remote/util.lua", "return {name = 'util'}"},
    {"remote/pages/first.lua", "return {name = 'first page'}"},
    {"remote/bad.lua", "return {"},
    {"modules/helper.lua", "return {name = 'helper from modules'}"},
    {"both/init.lua", "return 'init.lua wins'"},
    {"both.lua", "return 'both.lua'"},
    {"remote/notes.txt", "plain\0bytes\n"},
    {"elsewhere/tool.lua", "return 'through a linked folder'"},
};

static QStringList applicationLines(const QString &output)
{
    QStringList lines;
    for (const QString &line : output.split('\n'))
        if (line.startsWith("app: "))
            lines << line;
    return lines;
}

struct PackResult {
    int exitCode;
    QString output;
};

static PackResult pack(const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QCoreApplication::applicationDirPath() + "/../bin/remote-pack", arguments);
    process.waitForFinished();
    return {process.exitCode(), QString::fromLocal8Bit(process.readAll())};
}

// The application packed from a tree of loose files, with its data file if it has one.
static QByteArray packedApplication(const HostTree &loose)
{
    const QString out = loose.root() + "/packed.bin";
    QStringList arguments{loose.root(), "-o", out};
    if (QFile::exists(loose.root() + "/remote/notes.txt"))
        arguments << "-a" << loose.root() + "/remote/notes.txt";
    const PackResult result = pack(arguments);
    if (result.exitCode != 0)
        qWarning().noquote() << result.output;
    QFile file(out);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

class TestBundleWriter : public QObject
{
    Q_OBJECT

private slots:
    void packedApplicationRunsAsLooseFiles()
    {
        HostTree loose;
        for (auto it = application.cbegin(); it != application.cend(); ++it)
            loose.writeFile(it.key(), it.value());
        QVERIFY(QFile::link("elsewhere", loose.root() + "/linked"));
        const HostResult fromFiles = loose.run();
        QCOMPARE(fromFiles.exitCode, 0);

        HostTree packed;
        packed.writeBundle(packedApplication(loose));
        const HostResult fromBundle = packed.run();
        QCOMPARE(fromBundle.exitCode, 0);
        QVERIFY2(fromBundle.output.contains("size of bundle:"), qPrintable(fromBundle.output));
        const QStringList lines = applicationLines(fromFiles.output);
        QCOMPARE(lines.size(), 7);
        QVERIFY(lines.contains("app: linked\tthrough a linked folder"));
        QVERIFY(lines.contains("app: both\tinit.lua wins"));
        QVERIFY(lines.contains("app: bad\tfalse\tbad.lua:1: unexpected symbol near <eof>"));
        QCOMPARE(applicationLines(fromBundle.output), lines);
    }

    // Every packed file, Lua or not, is there byte for byte; the bundle wins over loose files.
    void bundleCarriesDataAndWinsOverLooseFiles()
    {
        HostTree source;
        source.writeFile("remote/init.lua", R"(
local bundle = require 'bundle'
local notes = bundle.read('remote/notes.txt')
print('app: notes', #notes, notes == 'plain\0bytes\n', bundle.read('absent'))
print('app: files', table.concat(bundle.list(), ' '))
function MsgHandler(_, event)
    if event == 'onStartup' then mainWindow:close() end
    return 0
end
)");
        source.writeFile("remote/notes.txt", QByteArray("plain\0bytes\n", 12));
        HostTree target;
        target.writeApplication("print('app: loose files ran') os.exit(3)");
        target.writeBundle(packedApplication(source));
        const HostResult result = target.run();
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(applicationLines(result.output),
                 QStringList({"app: notes\t12\ttrue\tnil",
                              "app: files\tremote/init.lua remote/notes.txt"}));
    }

    void damagedBundleIsReported_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("message");
        QTest::newRow("cut short") << "cut"
                                   << "Error: Locate modules";
        QTest::newRow("entry runs past the payload")
            << "length"
            << "bundle.bin is damaged: remote/init.lua runs past";
        QTest::newRow("not a packed application") << "magic"
                                                  << "was not made by remote-pack";
    }

    void damagedBundleIsReported()
    {
        QFETCH(QString, damage);
        QFETCH(QString, message);
        HostTree source;
        source.writeFile("remote/init.lua", "os.exit(0)");
        QByteArray bundle = packedApplication(source);
        if (damage == "cut")
            bundle.chop(5);
        else if (damage == "length")
            bundle.replace("remote/init.lua\t", "remote/init.lua\t9");
        else
            bundle[14] = '9';
        HostTree target;
        target.writeBundle(bundle);
        const HostResult result = target.run();
        QVERIFY(result.finished);
        QCOMPARE(result.exitCode, 1);
        QVERIFY2(result.output.contains("Error: Locate modules") &&
                     result.output.contains(message) && result.output.contains("Call failed"),
                 qPrintable(result.output));
    }

    void packerRefusesWhatItCannotPack_data()
    {
        QTest::addColumn<QString>("mainFile");
        QTest::addColumn<QString>("extra");
        QTest::addColumn<QString>("message");
        QTest::newRow("no application") << "other.lua"
                                        << ""
                                        << "holds neither remote/init.lua";
        QTest::newRow("missing data file") << "remote.lua"
                                           << "absent.txt"
                                           << "absent.txt";
        QTest::newRow("outside the folder") << "remote.lua"
                                            << "../x"
                                            << "is not inside";
    }

    void packerRefusesWhatItCannotPack()
    {
        QFETCH(QString, mainFile);
        QFETCH(QString, extra);
        QFETCH(QString, message);
        HostTree source;
        source.writeFile(mainFile, "return 1");
        const QString out = source.root() + "/out.bin";
        QStringList arguments{source.root(), "-o", out};
        if (!extra.isEmpty())
            arguments << "-a" << extra;
        const PackResult result = pack(arguments);
        QCOMPARE(result.exitCode, 1);
        QVERIFY2(result.output.contains(message), qPrintable(result.output));
        QVERIFY(!QFile::exists(out));
    }
};

QTEST_MAIN(TestBundleWriter)
#include "tst_bundlewriter.moc"
