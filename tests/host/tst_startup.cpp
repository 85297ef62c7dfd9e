#include "common/hosttree.h"
#include "host/appearance.h"

#include <QtTest>

static const QByteArray quittingApplication = QByteArray(quitWhenRunning) + R"(
print('hello from lua', wantSettings)
function MsgHandler(h, e) if e == 'onStartup' then quitWhenRunning() end return 0 end
)";

class TestStartup : public QObject
{
    Q_OBJECT

private:
    static QString readFile(const QString &path)
    {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        return QString::fromLocal8Bit(file.readAll());
    }

private slots:
    void logHandlerLevels_data()
    {
        QTest::addColumn<QString>("level");
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("debug") << "debug"
                               << "Debug: some text\n"
                               << 0;
        QTest::newRow("warning") << "warning"
                                 << "Warning: some text\n"
                                 << 0;
        QTest::newRow("info is dropped") << "info"
                                         << "" << 0;
        QTest::newRow("critical ends with -1") << "critical"
                                               << "Critical: some text\n"
                                               << 255;
    }

    void logHandlerLevels()
    {
        QFETCH(QString, level);
        QFETCH(QString, line);
        QFETCH(int, exitCode);
        QProcess child;
        child.start(QCoreApplication::applicationDirPath() + "/logchild", {level, "some text"});
        QVERIFY(child.waitForFinished(20000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), exitCode);
        const QString output = QString::fromLocal8Bit(child.readAllStandardOutput());
        if (line.isEmpty())
            QVERIFY2(!output.contains("some text"), qPrintable(output));
        else
            QVERIFY2(output.endsWith(line), qPrintable(output));
    }

    void splashPictureComesFromTheResources()
    {
        const QPixmap splash = splashPicture();
        QCOMPARE(splash.size(), QSize(600, 150));
        const QImage image = splash.toImage();
        QVERIFY(qAlpha(image.pixel(300, 75)) > 0);
        QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
    }

    void fatalMessageAborts()
    {
        QProcess child;
        child.start(QCoreApplication::applicationDirPath() + "/logchild", {"fatal", "the end"});
        QVERIFY(child.waitForFinished(20000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        QVERIFY(child.readAllStandardOutput().endsWith("Fatal: the end\n"));
    }

    // The application object fails to connect to a display and reports it as fatal from inside
    // its constructor: no box can be shown then. The shell reports how the program ended.
    void fatalMessageBeforeTheApplicationAborts()
    {
        HostTree tree;
        tree.writeApplication(quittingApplication);
        QProcess shell;
        shell.setProcessEnvironment(tree.environment());
        shell.setWorkingDirectory(tree.root());
        shell.setProcessChannelMode(QProcess::MergedChannels);
        shell.start("sh", {"-c", "QT_QPA_PLATFORM=xcb DISPLAY=:9999 \"$0\"; echo status=$?",
                           tree.binDirectory() + "/remote"});
        QVERIFY(shell.waitForFinished(20000));
        const QString output = QString::fromLocal8Bit(shell.readAll());
        QVERIFY2(output.contains("status=134\n"), qPrintable(output));
        QVERIFY(output.contains("Fatal: "));
    }

    void logFileTakesAllOutput()
    {
        HostTree tree;
        tree.writeApplication(quittingApplication);
        const HostResult result = tree.run({"-df", "-s"});
        QCOMPARE(result.exitCode, 0);
        QVERIFY2(!result.output.contains("hello from lua"), qPrintable(result.output));
        const QString log = readFile(tree.root() + "/log.txt");
        QVERIFY2(log.contains("hello from lua\ttrue\n"), qPrintable(log));
        QVERIFY(log.contains("package.path\t"));
    }

    // Help wins wherever it stands and starts nothing; a word that only begins like it is no
    // switch.
    void helpPrintsTheSwitches_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("help");
        QTest::newRow("-h") << QStringList{"-h"} << true;
        QTest::newRow("--help after -df") << QStringList{"-df", "--help"} << true;
        QTest::newRow("-help") << QStringList{"-help"} << false;
    }

    void helpPrintsTheSwitches()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, help);
        HostTree tree;
        tree.writeApplication(quittingApplication);
        const HostResult result = tree.run(arguments);
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.output.startsWith("Usage: remote"), help);
        QCOMPARE(result.output.contains("  -w      development mode"), help);
        QCOMPARE(result.output.contains("hello from lua") ||
                     QFile::exists(tree.root() + "/log.txt"),
                 !help);
    }

    void onlyTheFirstConsoleSwitchActs_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("-d before -df") << QStringList({"-d", "-df"});
        QTest::newRow("-dd before -df") << QStringList({"-dd", "-df"});
        QTest::newRow("doubled dash") << QStringList("--df");
        QTest::newRow("upper case") << QStringList("-DF");
    }

    void onlyTheFirstConsoleSwitchActs()
    {
        QFETCH(QStringList, arguments);
        HostTree tree;
        tree.writeApplication(quittingApplication);
        const HostResult result = tree.run(arguments);
        QCOMPARE(result.exitCode, 0);
        QVERIFY(!QFile::exists(tree.root() + "/log.txt"));
        QVERIFY(result.output.contains("hello from lua\tfalse\n"));
    }

    void unwritableLogFileKeepsStandardOutput()
    {
        HostTree tree;
        tree.writeApplication(quittingApplication);
        QDir(tree.root()).mkdir("log.txt");
        const HostResult result = tree.run({"-df"});
        QCOMPARE(result.exitCode, 0);
        QVERIFY(result.output.contains("hello from lua\tfalse\n"));
    }

    void fontsAreFoundOnceInSearchOrder()
    {
        HostTree tree;
        tree.writeApplication(quittingApplication);
        const HostResult shipped = tree.run();
        QVERIFY2(shipped.output.contains("Debug: \"DSEG7 Classic\"\n"), qPrintable(shipped.output));
        QVERIFY(shipped.output.contains("Debug: \"DSEG7 Modern\"\n"));
        for (const QString &name : QDir(tree.binDirectory()).entryList({"*.ttf"}))
            QVERIFY(QFile::remove(tree.binDirectory() + "/" + name));
        const QString font = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
        QVERIFY(QFile::exists(font));
        QVERIFY(QFile::copy(font, tree.binDirectory() + "/digital-7.ttf"));
        QVERIFY(QFile::copy(font, tree.root() + "/build/digital-7.ttf"));
        QVERIFY(QFile::copy(font, tree.root() + "/build/digital-7 (mono).ttf"));
        const HostResult result = tree.run();
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.output.count("Debug: \"DejaVu Sans\"\n"), 2);
    }

    void styleSheetBesideTheProgramWins()
    {
        HostTree tree;
        tree.writeApplication(QByteArray(quitWhenRunning) + R"(
            local qt = require 'qt.core'
            function MsgHandler(h, e) if e == 'onStartup' then quitWhenRunning() end return 0 end
            local probe = qt.QWidget.create(nil, false)
            probe:setName('probe')
            probe:show()
            probe:setGeometry(0, 0, 10, 10)
            print('probe', probe:geometry())
        )");
        tree.writeFile("build/bin/stylesheet.css", "QWidget#probe { min-width: 321px; }");
        tree.writeFile("build/stylesheet.css", "QWidget#probe { min-width: 123px; }");
        const HostResult result = tree.run();
        QCOMPARE(result.exitCode, 0);
        QVERIFY2(QRegularExpression("probe\t0\t0\t321\t10\n").match(result.output).hasMatch(),
                 qPrintable(result.output));
    }

    // A heavy module's library is mapped only once the module is required; a module file that
    // is missing or broken is a Lua error at require, and the others load as before.
    void nativeModulesLoadOnFirstRequire()
    {
        HostTree tree;
        tree.writeApplication(QByteArray(quitWhenRunning) + R"(
            local function mapped()
                local f = io.open('/proc/self/maps')
                local maps = f:read('a')
                f:close()
                return maps:find('libpoppler', 1, true) ~= nil
            end
            print('before', mapped())
            print('pdf2.core', pcall(require, 'pdf2.core'))
            print('after', mapped())
            for _, name in ipairs{'bonjour.core', 'recorder.core', 'net.core', 'player.core',
                                  'serial.core'} do
                print(name, (pcall(require, name)))
                print(name, select(2, pcall(require, name)))
            end
            function MsgHandler(h, e) if e == 'onStartup' then quitWhenRunning() end return 0 end
        )");
        const QString native = tree.binDirectory() + "/native/";
        QVERIFY(QFile::remove(native + "player.core.so"));
        QVERIFY(QFile::remove(native + "serial.core.so"));
        tree.writeFile("build/bin/native/serial.core.so", "not a library");
        const HostResult result = tree.run();
        QCOMPARE(result.exitCode, 0);
        QVERIFY2(result.output.contains("before\tfalse\n"), qPrintable(result.output));
        QVERIFY(result.output.contains("pdf2.core\ttrue\t"));
        QVERIFY(result.output.contains("after\ttrue\n"));
        for (const char *name : {"bonjour.core", "recorder.core", "net.core"})
            QVERIFY2(result.output.contains(QString(name) + "\ttrue\n"), name);
        QVERIFY(result.output.contains(
            "player.core\tmodule 'player.core' is not installed: " + native +
            "player.core.so not found\n"));
        QVERIFY(
            result.output.contains("serial.core\tmodule 'serial.core' cannot be loaded: "));
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
