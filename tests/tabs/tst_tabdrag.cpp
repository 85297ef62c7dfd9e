#include "common/hosttree.h"
#include "common/xserver.h"

#include <QtTest>

// Prints the tab widgets, their pages and whether they show, whenever the main window itself
// (its status bar) is clicked.
static const QByteArray application = R"(
local qt = require 'qt.core'
local function report()
    local parts = {}
    for _, tabs in ipairs(mainWindow:tabWidgets()) do
        local titles = {}
        for i, page in ipairs(tabs:widgets()) do titles[i] = page:property('windowTitle') end
        parts[#parts + 1] = table.concat(titles, ',') .. (tabs:property('visible') and '' or '(hidden)')
    end
    print('tabs ' .. table.concat(parts, ' | '))
end
function MsgHandler(h, e)
    if e == 'onStartup' then
        for _, title in ipairs({'Demo', 'Drag me out'}) do
            local page = qt.QWidget.create(nil, false)
            page:setTitle(title)
            rootWidget:insertWidget(page)
        end
        print('ready')
    end
    if e == 'onTouchPress' and rawequal(h, mainWindow) then report() end
    return 0
end
)";

// Real drags with the mouse under a private X server: out of the bar into a window of its own,
// and back onto the main window, which closes the emptied floating window.
class TestTabDrag : public QObject
{
    Q_OBJECT

private:
    XServer xserver;

    void drag(QPoint from, QPoint to)
    {
        const auto at = [](QPoint p) {
            return QStringList{QString::number(p.x()), QString::number(p.y())};
        };
        QVERIFY(
            xserver.xdotool(QStringList{"mousemove"} + at(from) + QStringList{"mousedown", "1"}));
        QTest::qWait(200);
        QVERIFY(xserver.xdotool(QStringList{"mousemove"} + at(from + QPoint(3, 2))));
        QTest::qWait(200);
        for (QPoint step : {(from + to) / 2, to, to + QPoint(10, 10)}) {
            QVERIFY(xserver.xdotool(QStringList{"mousemove"} + at(step)));
            QTest::qWait(250);
        }
        QVERIFY(xserver.xdotool({"mouseup", "1"}));
        QTest::qWait(500);
    }

    void report(HostTree &tree, int count)
    {
        QVERIFY(xserver.xdotool({"mousemove", "700", "432", "click", "1"}));
        QVERIFY(tree.waitForLog("tabs ", count));
    }

private slots:
    void initTestCase() { QVERIFY(xserver.start()); }

    void dragOutAndBack()
    {
        HostTree tree;
        xserver.use(tree);
        tree.writeApplication(application);
        QProcess host;
        tree.start(host, {"-df"});
        QVERIFY(tree.waitForLog("ready\n"));
        QTest::qWait(500);

        drag({120, 15}, {520, 700});
        report(tree, 1);
        QVERIFY(tree.waitForLog("tabs Demo | Drag me out\n"));

        // The floating window sits at the top-left corner over the main window; its only tab
        // goes back onto the part of the main window it leaves uncovered.
        drag({50, 14}, {720, 200});
        report(tree, 2);
        QVERIFY(tree.waitForLog("tabs Demo,Drag me out | (hidden)\n"));
        host.kill();
        host.waitForFinished();
    }
};

QTEST_MAIN(TestTabDrag)
#include "tst_tabdrag.moc"
