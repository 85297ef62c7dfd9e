#include "common/hosttree.h"

#include <QtTest>

#include <cstdio>

// Prints what the application sees of its environment, then quits.
static const QByteArray reportingApplication = QByteArray(quitWhenRunning) + R"(
print('app package.path', package.path)
print('app package.cpath', package.cpath)
print('extra', (pcall(require, 'extra')))
function MsgHandler(h, e) if e == 'onStartup' then quitWhenRunning() end return 0 end
)";

class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    static QByteArray bundle(const QByteArray &payload, const QByteArray &loaderBody, int size,
                             const QByteArray &trailer = QByteArray())
    {
        QByteArray loader = loaderBody;
        loader.append(QByteArray(size - loader.size(), ' '));
        const QByteArray tail =
            trailer.isNull() ? QByteArray::number(size).leftJustified(16, ' ') : trailer;
        return payload + loader + tail;
    }

    // A loader that serves the payload as the module remote.
    static QByteArray bundleOf(const QByteArray &application, const QByteArray &trailer = {})
    {
        const QByteArray loader = "local c = ... package.preload.remote = function() "
                                  "return assert(load(c:sub(1, " +
                                  QByteArray::number(application.size()) + ")))() end";
        return bundle(application, loader, 123, trailer);
    }

private slots:
    void sourceTreeSearchPaths_data()
    {
        QTest::addColumn<QString>("bundle");
        QTest::newRow("no bundle") << "none";
        QTest::newRow("empty bundle") << "empty";
        QTest::newRow("folder named bundle.bin") << "folder";
    }

    void sourceTreeSearchPaths()
    {
        QFETCH(QString, bundle);
        HostTree tree;
        tree.writeApplication(reportingApplication);
        if (bundle == "empty")
            tree.writeBundle("");
        else if (bundle == "folder")
            QVERIFY(QDir().mkpath(tree.binDirectory() + "/bundle.bin"));
        const HostResult result = tree.run();
        QCOMPARE(result.exitCode, 0);
        QVERIFY2(!result.output.contains("Error: Locate modules"), qPrintable(result.output));
        const QString r = tree.root();
        const QString bin = tree.binDirectory();
        QVERIFY2(result.output.contains("directory\t" + bin + "\ndirectory\t" + bin + "/../..\n"),
                 qPrintable(result.output));
        QVERIFY(result.output.contains(QString("\npackage.path\t%1/?/init.lua;%1/?.lua;%1/modules/"
                                               "?.lua\npackage.cpath\t%1/?.so;%1/modules/?.so\n")
                                           .arg(r)));
        QVERIFY(!result.output.contains("size of bundle"));
    }

    void bundleLoaderProvidesTheApplication()
    {
        HostTree tree;
        tree.writeFile("build/bin/extra.lua", "return 1");
        tree.writeFile("extra.lua", "return 1");
        const QByteArray content = bundleOf(reportingApplication);
        QCOMPARE(content.right(16), QByteArray("123             "));
        tree.writeBundle(content);
        const HostResult result = tree.run();
        QCOMPARE(result.exitCode, 0);
        QVERIFY2(result.output.contains(
                     QString("size of bundle:\t%1\nsize of loader:\t123\n").arg(content.size())),
                 qPrintable(result.output));
        QVERIFY(result.output.contains("\npackage.path\t\npackage.cpath\t" + tree.binDirectory() +
                                       "/?.so;" + tree.binDirectory() + "/modules/?.so\n"));
        QVERIFY(result.output.contains("app package.path\t\n"));
        QVERIFY(result.output.contains("extra\tfalse\n"));
    }

    void badBundleIsReportedAndStartGoesOn_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("trailer starts with a space") << bundleOf("x", " 123            ");
        QTest::newRow("loader longer than the file") << QByteArray("999").leftJustified(16, ' ');
        QTest::newRow("loader raises") << bundle("", "error('loader broke')", 30);
    }

    void badBundleIsReportedAndStartGoesOn()
    {
        QFETCH(QByteArray, content);
        HostTree tree;
        tree.writeApplication(reportingApplication);
        tree.writeBundle(content);
        const HostResult result = tree.run();
        QVERIFY2(result.output.contains("Error: Locate modules\n["), qPrintable(result.output));
        QVERIFY(!result.output.contains("\npackage.path\t"));
        // The interpreter's default paths still find the application in the working directory.
        QCOMPARE(result.exitCode, 0);
        QVERIFY(result.output.contains("app package.path\t/usr/local/share/lua/5.3/"));
    }

    void failingMainModuleEndsTheProcess()
    {
        HostTree tree;
        tree.writeApplication("function MsgHandler() print('handled') return 0 end "
                              "error('application broke')");
        const HostResult result = tree.run();
        QCOMPARE(result.exitCode, 1);
        QVERIFY(result.output.contains("ERROR(traceback): "));
        QVERIFY(result.output.contains("application broke"));
        QVERIFY(result.output.contains("Error: Call failed\n["));
        QVERIFY(!result.output.contains("handled"));
    }

    void missingApplicationEndsTheProcess()
    {
        HostTree tree;
        const HostResult result = tree.run();
        QCOMPARE(result.exitCode, 1);
        QVERIFY(result.output.contains("module 'remote' not found"));
    }

    void globalsAndModules_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("settings");
        QTest::newRow("plain") << QStringList() << "false";
        QTest::newRow("-s") << QStringList("-s") << "true";
        QTest::newRow("-S is not a switch") << QStringList("-S") << "false";
    }

    void globalsAndModules()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, settings);
        HostTree tree;
        tree.writeApplication(QByteArray(quitWhenRunning) + R"(
            local qt = require 'qt.core'
            local function class(h) return getmetatable(h).__classname end
            print('classes', class(mainWindow), class(rootWidget), class(lcdCanvas))
            print('values', wantSettings, applicationFileName, _TARGET)
            print('module', rawequal(qt.MainWindow, getmetatable(mainWindow)), rawget(_G, 'qt.core'),
                  rawget(_G, 'qt'))
            local list = mainWindow:tabWidgets()
            print('tabWidgets', #list, rawequal(list[1], rootWidget))
            mainWindow.setText(nil, 'status')
            function MsgHandler(h, e)
                if e == 'onStartup' then quitWhenRunning() end
                if e == 'onShutdown' then print('shutdown') end
                return 0
            end
        )");
        const HostResult result = tree.run(arguments);
        QCOMPARE(result.exitCode, 0);
        QVERIFY2(result.output.contains("classes\tMainWindow\tTabWidget\tQPainter\n"),
                 qPrintable(result.output));
        QVERIFY(result.output.contains("values\t" + settings + "\tremote\tqt\n"));
        QVERIFY(result.output.contains("module\ttrue\tnil\tnil\n"));
        QVERIFY(QRegularExpression("ltabWidgets---\ntabWidget 0x[0-9a-f]+\ntabWidgets\t1\ttrue\n")
                    .match(result.output)
                    .hasMatch());
        QVERIFY(result.output.contains("shutdown\n"));
    }

    void consumedCloseKeepsTheWindowOpen()
    {
        HostTree tree;
        tree.writeApplication(R"(
            local qt = require 'qt.core'
            local closes = 0
            local function later(f)
                local w = qt.QWidget.create(nil, false)
                getmetatable(w).__deleted = function(h) if rawequal(h, w) then f() end end
                w:destroy()
            end
            function MsgHandler(h, e)
                if e == 'onStartup' then later(function() mainWindow:close() end) end
                if e == 'onClose' and rawequal(h, mainWindow) then
                    closes = closes + 1
                    print('close', closes)
                    if closes == 1 then
                        later(function() print('still open', mainWindow:property('visible')) mainWindow:close() end)
                        return true
                    end
                end
                if e == 'onShutdown' then print('shutdown after', closes) end
                return 0
            end
        )");
        const HostResult result = tree.run();
        const QString steps = QStringList(result.output.split('\n').filter(
                                              QRegularExpression("^(close|still|shutdown)")))
                                  .join('|');
        QCOMPARE(steps, QString("close\t1|still open\ttrue|close\t2|shutdown after\t2"));
        QCOMPARE(result.exitCode, 0);
    }

    void animatingFromLua()
    {
        HostTree tree;
        tree.writeApplication(R"(
            local qt = require 'qt.core'
            function MsgHandler(h, e)
                if e ~= 'onStartup' then return 0 end
                local page = qt.QWidget.create(nil, false)
                rootWidget:insertWidget(page)
                local slid = qt.QWidget.create(page)
                local jumped = qt.QWidget.create(page)
                mainWindow:animate(slid, 0, 0, 100, 50, 200, 0, 300, 300)
                mainWindow:animate(jumped, 0, 0, 30, 40, 70, 80, 10, 10, nil)
                print('started', mainWindow.isAnimating(nil, slid), table.concat({slid:geometry()}, ' '))
                local check = qt.Timer.create()
                check:setTimeout(150)
                check:setSingleShot()
                function check:onTimeout()
                    print('midway', mainWindow:isAnimating(slid), mainWindow:isAnimating(jumped),
                          table.concat({jumped:geometry()}, ' '))
                    local final = qt.Timer.create()
                    final:setTimeout(600)
                    final:setSingleShot()
                    function final:onTimeout()
                        print('ended', mainWindow:isAnimating(slid), table.concat({slid:geometry()}, ' '))
                        mainWindow:close()
                    end
                    final:start()
                    keep = final
                end
                check:start()
                keep0 = check
                print(pcall(mainWindow.animate, mainWindow, slid, 1, 2, 3))
                return 0
            end
        )");
        const HostResult result = tree.run();
        QCOMPARE(result.exitCode, 0);
        QVERIFY2(result.output.contains("started\ttrue\t0 0 100 50\n"), qPrintable(result.output));
        QVERIFY(result.output.contains("midway\ttrue\tfalse\t70 80 30 40\n"));
        QVERIFY(result.output.contains("ended\tfalse\t200 0 100 50\n"));
        QVERIFY(result.output.contains("bad argument #6 to '?' (number expected, got no value)"));
    }

    void animateAcceptsEveryNumber()
    {
        HostTree tree;
        tree.writeApplication(QByteArray(quitWhenRunning) + R"(
            local qt = require 'qt.core'
            function MsgHandler(h, e) if e == 'onStartup' then quitWhenRunning() end return 0 end
            local page = qt.QWidget.create(nil, false)
            local w = qt.QWidget.create(page)
            local function try(name, ...)
                local ok, err = pcall(mainWindow.animate, mainWindow, w, ...)
                print(name, ok, err, table.concat({w:geometry()}, ' '))
            end
            try('negative width', 0, 0, 60, 40, 10, 10, -5, 10, false)
            try('zero size', 0, 0, 60, 40, 10, 10, 0, 0)
            try('huge', 0, 0, 10, 10, 2^40, -2^40, 1e9, 1e9, false)
            try('nan', 0/0, 0, 10, 10, 0, 0/0, 10, 10, false)
            try('infinite', 0, 0, 10, 10, math.huge, 0, 10, 10, false)
        )");
        const HostResult result = tree.run();
        QCOMPARE(result.exitCode, 0);
        for (const char *line :
             {"negative width\ttrue\tnil\t-600 -530 60 40\n",
              "zero size\ttrue\tnil\t-560 -540 60 40\n", "huge\ttrue\tnil\t32767 -32768 10 10\n",
              "nan\ttrue\tnil\t0 0 10 10\n", "infinite\ttrue\tnil\t32767 0 10 10\n"})
            QVERIFY2(result.output.contains(line), qPrintable(line + ("\n" + result.output)));
    }

    void destroyingTheMainWindowClosesIt_data()
    {
        QTest::addColumn<QByteArray>("setup");
        QTest::newRow("alone") << QByteArray();
        QTest::newRow("another window open")
            << QByteArray("other = qt.QWidget.create(nil, true) other:setTitle('other')");
    }

    void destroyingTheMainWindowClosesIt()
    {
        QFETCH(QByteArray, setup);
        HostTree tree;
        QByteArray application = QByteArray(laterFunction) + R"(
            local qt = require 'qt.core'
            function MsgHandler(h, e)
                if e == 'onStartup' then
                    -- set-up
                    later(0, function() mainWindow:destroy() end)
                    later(3000, function() print('still running') os.exit(3) end)
                elseif (e == 'onClose' and not (other and rawequal(h, other))) or e == 'onShutdown' then
                    print('event', e)
                end
                return 0
            end
        )";
        application.replace("-- set-up", setup);
        tree.writeApplication(application);
        const HostResult result = tree.run({}, 10000);
        const QStringList events = result.output.split('\n').filter(QRegularExpression("^event\t"));
        QCOMPARE(events, QStringList({"event\tonClose", "event\tonShutdown"}));
        QCOMPARE(result.exitCode, 0);
    }

    void closingATabWindowAfterTheRootWidgetDied()
    {
        HostTree tree;
        tree.writeApplication(QByteArray(laterFunction) + R"(
            local qt = require 'qt.core'
            function MsgHandler(h, e)
                if e == 'onStartup' then
                    local tabs = qt.TabWidget.create(mainWindow)
                    for i = 1, 2 do tabs:insertWidget(qt.QWidget.create(nil, false)) end
                    tabs:show()
                    rootWidget:destroy()
                    later(50, function()
                        tabs:close()
                        print('tab window closed')
                        later(0, function() mainWindow:close() end)
                    end)
                end
                return 0
            end
        )");
        const HostResult result = tree.run({}, 10000);
        QVERIFY2(result.output.contains("tab window closed\n"), qPrintable(result.output));
        QCOMPARE(result.exitCode, 0);
    }

    // Floating tab windows (one made by detaching a page), nested line edits and deferred
    // deletes still pending at the end: the sanitizer build's leak check fails the exit code.
    void manyWidgetsEndCleanly()
    {
        HostTree tree;
        tree.writeApplication(QByteArray(laterFunction) + R"(
            local qt = require 'qt.core'
            local function page(title)
                local p = qt.QWidget.create(nil, false)
                p:setTitle(title)
                return p
            end
            function MsgHandler(h, e)
                if e == 'onStartup' then
                    local floating = qt.TabWidget.create(nil)
                    for i = 1, 3 do floating:insertWidget(page('f' .. i)) end
                    floating:show()
                    floating:insertWidget(page('detached'), {x = 10, y = 10, w = 200, h = 100})
                    for i = 1, 3 do
                        local p = page('r' .. i)
                        rootWidget:insertWidget(p)
                        local outer = qt.QLineEdit.create(p)
                        local inner = qt.QLineEdit.create(outer)
                        qt.QLineEdit.create(inner)
                        qt.QWidget.create(p)
                        if i > 1 then outer:destroy() end
                    end
                    later(50, function()
                        for _, w in ipairs(rootWidget:widgets()) do qt.QLineEdit.create(w):destroy() end
                        print('closing', #mainWindow:tabWidgets())
                        mainWindow:close()
                    end)
                end
                return 0
            end
        )");
        const HostResult result = tree.run({}, 10000);
        QVERIFY2(result.output.contains("closing\t"), qPrintable(result.output));
        QCOMPARE(result.exitCode, 0);
    }

    void closingInsideStartupEndsTheProgram()
    {
        HostTree tree;
        tree.writeApplication(R"(
            local qt = require 'qt.core'
            local fallback
            function MsgHandler(h, e)
                if e == 'onStartup' then
                    fallback = qt.Timer.create()
                    fallback:setTimeout(2000)
                    function fallback:onTimeout() print('still running') os.exit(3) end
                    fallback:start()
                    mainWindow:close()
                elseif e == 'onShutdown' then
                    print('shutdown')
                end
                return 0
            end
        )");
        const HostResult result = tree.run({}, 10000);
        QVERIFY2(result.finished, qPrintable(result.output));
        QCOMPARE(result.output.count("shutdown\n"), 1);
        QVERIFY2(!result.output.contains("still running"), qPrintable(result.output));
        QCOMPARE(result.exitCode, 0);
    }

    // With -w a save starts the application afresh, and an error that would end the program
    // stops only the application, at once, until the next save.
    void developmentModeRestartsOnSave()
    {
        const QByteArray version = R"(
            local qt = require 'qt.core'
            local run = 'RUN'
            print('app: started ' .. run .. ' with pages ' .. #rootWidget:widgets())
            function MsgHandler(h, e)
                print('app: event ' .. e .. ' ' .. run)
                if e == 'onStartup' then
                    local page = qt.QWidget.create(nil, false)
                    page:setTitle('page ' .. run)
                    rootWidget:insertWidget(page)
                    qt.QWidget.create(nil, true)
                    STARTUP
                elseif e == 'onShutdown' then
                    print('app: shutdown ' .. run)
                end
                return 0
            end
            TOP
        )";
        HostTree tree;
        const auto save = [&](const QByteArray &run, const QByteArray &startup = "",
                              const QByteArray &top = "", const QString &name = "remote.lua") {
            QByteArray text = version;
            text.replace("RUN", run).replace("STARTUP", startup).replace("TOP", top);
            tree.writeFile(name, text);
        };
        const auto log = [&] {
            QFile file(tree.root() + "/log.txt");
            file.open(QIODevice::ReadOnly);
            return QString::fromLocal8Bit(file.readAll());
        };
        const QByteArray stopped = "The application stopped; its error is shown in the window";
        save("1");
        QProcess host;
        tree.start(host, {"-w", "-df"});
        QVERIFY(host.waitForStarted());
        QVERIFY(tree.waitForLog("app: started 1 with pages 0"));

        QElapsedTimer clock;
        clock.start();
        save("2");
        QVERIFY(tree.waitForLog("app: started 2 with pages 0"));
        qDebug() << "restarted" << clock.elapsed() << "ms after the save";
        QVERIFY(tree.waitForLog("app: shutdown 1"));

        // Failing in onStartup, and while loading with MsgHandler already defined: nothing
        // reaches the failed application afterwards.
        save("3", "error('broken on purpose')");
        QVERIFY(tree.waitForLog(stopped));
        save("4", "", "error('broken at load')");
        QVERIFY(tree.waitForLog(stopped, 2));
        tree.writeApplication("print('app: half written' ..");
        QVERIFY(tree.waitForLog(stopped, 3));
        QVERIFY2(log().contains(QRegularExpression(
                     "window: Stopped: \\S*remote.lua:1: unexpected symbol near <eof>\n")),
                 qPrintable(log()));
        QCOMPARE(host.state(), QProcess::Running);
        QVERIFY(log().contains("broken on purpose") && log().contains("broken at load"));
        const QString failures = log().section("app: event onStartup 3\n", 1);
        QVERIFY2(!failures.section("Error: Call failed", 1).contains("app: event "),
                 qPrintable(failures));

        // Saved as editors often do: a new file renamed over the old one.
        save("5", "", "", "saved.lua");
        QCOMPARE(std::rename(qPrintable(tree.root() + "/saved.lua"),
                             qPrintable(tree.root() + "/remote.lua")),
                 0);
        QVERIFY(tree.waitForLog("app: started 5 with pages 0"));

        // A module in a folder made while the application runs.
        QVERIFY(QDir().mkpath(tree.root() + "/modules/tools"));
        QThread::msleep(400);
        tree.writeFile("modules/tools/helper.lua", "return 1");
        QVERIFY(tree.waitForLog("app: started 5 with pages 0", 2));

        // Saves while a dialog runs its loop give one restart, after the dialog, with the last.
        save("6",
             "local d = qt.QDialog.create(nil) later(1500, function() d:done(0) end) "
             "d:exec() print('app: dialog done')",
             QByteArray(laterFunction));
        QVERIFY(tree.waitForLog("app: started 6 with pages 0"));
        save("7");
        QThread::msleep(400);
        save("8");
        QVERIFY(tree.waitForLog("app: dialog done"));
        QVERIFY(tree.waitForLog("app: started 8 with pages 0"));
        QThread::msleep(500);

        // An application that closes the window in its onShutdown ends the program there.
        save("9", "function MsgHandler(h, e) if e == 'onShutdown' then mainWindow:close() end "
                  "return 0 end");
        QVERIFY(tree.waitForLog("app: started 9 with pages 0"));
        save("10");
        QVERIFY(host.waitForFinished(10000));
        QCOMPARE(host.exitCode(), 0);
        const QString output = log();
        QCOMPARE(output.count("app: shutdown 3"), 0);
        QCOMPARE(output.count("app: started 7"), 0);
        QCOMPARE(output.count("app: started 8"), 1);
        QCOMPARE(output.count("app: started 10"), 0);
        QCOMPARE(output.count("app: started"), 9);
    }

    // A loop in a handler that may fail is stopped within its budget and shown in the window;
    // the program goes on, and the time a dialog waits counts against nobody.
    void runawayScriptIsStoppedAndShown()
    {
        HostTree tree;
        tree.writeApplication(QByteArray(laterFunction) + R"(
            local qt = require 'qt.core'
            mainWindow:setScriptTimeLimit(300)
            local clock = qt.ElapsedTimer.create()
            local w
            local ticks, looping = 0, false
            local tick = qt.Timer.create()
            tick:setTimeout(20)
            function tick:onTimeout() ticks = ticks + 1 end
            tick:start()
            function MsgHandler(h, e)
                if e == 'onResize' and rawequal(h, w) and looping then
                    looping = false
                    clock:start()
                    while true do end
                end
                if e == 'onStartup' then later(50, function()
                    local d = qt.QDialog.create(nil)
                    later(600, function() d:done(0) end)
                    d:exec()
                    looping = true
                    w:setGeometry(10, 10, 123, 45)
                    print('stopped after', clock:elapsed())
                    local before = ticks
                    later(300, function() print('ticks', ticks - before) mainWindow:close() end)
                end) end
                return 0
            end
            w = qt.Widget.create(nil)
            w:show()
        )");
        const HostResult result = tree.run();
        QCOMPARE(result.exitCode, 0);
        const QRegularExpressionMatch stopped =
            QRegularExpression("stopped after\t(\\d+)").match(result.output);
        QVERIFY2(stopped.hasMatch(), qPrintable(result.output));
        QVERIFY2(stopped.captured(1).toInt() < 400, qPrintable(stopped.captured(0)));
        const QRegularExpressionMatch ticks =
            QRegularExpression("ticks\t(\\d+)").match(result.output);
        QVERIFY(ticks.hasMatch() && ticks.captured(1).toInt() >= 5);
        QVERIFY2(result.output.contains(QRegularExpression(
                     "The window shows: Script error in onResize: \\S*remote.lua:\\d+: script "
                     "ran longer than 300 ms\n")),
                 qPrintable(result.output));
    }

    void floatingTabWindowsReturnTheirPages()
    {
        HostTree tree;
        tree.writeApplication(QByteArray(quitWhenRunning) + R"(
            local qt = require 'qt.core'
            function MsgHandler(h, e) if e == 'onStartup' then quitWhenRunning() end return 0 end
            local function page(title)
                local p = qt.QWidget.create(nil, false)
                p:setTitle(title)
                return p
            end
            local function titles(tabs)
                local t = {}
                for i, p in ipairs(tabs:widgets()) do t[i] = p:property('windowTitle') end
                return table.concat(t, ',')
            end
            local made = qt.TabWidget.create(mainWindow)
            print('made', made:property('visible'), made:isEmpty(), #made:widgets(), made:property('windowTitle'))
            local a, b, c, d = page('a'), page('b'), page('c'), page('d')
            rootWidget:insertWidget(a)
            rootWidget:insertWidget(b, {x=100, y=100, w=400, h=300})
            print('root has b', rootWidget:hasWidget(b), titles(rootWidget))
            local list = mainWindow:tabWidgets()
            print('tab widgets', #list)
            local floating = list[3]
            print('floating', titles(floating), table.concat({floating:geometry()}, ' '))
            floating:insertWidget(c)
            floating:insertWidget(d)
            floating:setCurrentWidget(c)
            print('current', floating:currentWidget():property('windowTitle'))
            floating:close()
            print('returned', titles(rootWidget), rootWidget:currentWidget():property('windowTitle'),
                  floating:isEmpty())
            print('empty current', made:currentWidget())
            made:showDropTarget() made:showDropTarget(nil) made:showTabBar(false)
        )");
        const HostResult result = tree.run();
        QCOMPARE(result.exitCode, 0);
        QVERIFY2(result.output.contains("made\tfalse\ttrue\t0\tVantor\n"),
                 qPrintable(result.output));
        QVERIFY(result.output.contains("root has b\tfalse\ta\n"));
        QVERIFY(result.output.contains("tab widgets\t3\n"));
        QVERIFY(result.output.contains("floating\tb\t100 100 400 300\n"));
        QVERIFY(result.output.contains("current\tc\n"));
        QVERIFY(result.output.contains("returned\ta,b,c,d\td\ttrue\n"));
        QVERIFY(result.output.contains("empty current\tnil\n"));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
