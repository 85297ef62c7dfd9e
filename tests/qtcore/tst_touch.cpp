#include "common/luafixture.h"
#include "viewers/fdview.h"
#include "viewers/pdfview.h"
#include "viewers/testdocument.h"

#include <QScrollBar>
#include <QTemporaryDir>
#include <QTouchDevice>
#include <QtTest>

// Two buttons side by side in a shown window; every event comes with the button's name.
static const char *const panel = R"(
w = qt.QWidget.create(nil, true)
w:setGeometry(100, 100, 300, 100)
b1 = qt.PushButton.create(w) b1:setGeometry(10, 10, 100, 60)
b2 = qt.PushButton.create(w) b2:setGeometry(150, 10, 100, 60)
seen = {}
local function who(h) return rawequal(h, b1) and 'b1' or rawequal(h, b2) and 'b2' or 'w' end
function MsgHandler(h, e, x, y, finger)
    if e == 'onClick' then seen[#seen + 1] = who(h) .. ' click' end
    if e == 'onTouchPress' or e == 'onTouchRelease' then
        seen[#seen + 1] = who(h) .. ' ' .. e:sub(8) .. ' ' .. finger
    end
    return answer[e] or 0
end
)";

class TestTouch : public QObject
{
    Q_OBJECT

private:
    QTouchDevice *m_device = QTest::createTouchDevice();

    static QPoint at(QWidget *window, QWidget *button, int x)
    {
        return button->mapTo(window, QPoint(x, 20));
    }

    // One finger from one point to another in steps of the given milliseconds, then lifted.
    void drag(QWidget *window, QWidget *target, QPoint from, QPoint to, int stepMs)
    {
        const int id = 0;
        QTest::touchEvent(window, m_device).press(id, target->mapTo(window, from), window);
        for (int step = 1; step <= 10; ++step) {
            QTest::qWait(stepMs);
            const QPoint point = from + (to - from) * step / 10;
            QTest::touchEvent(window, m_device).move(id, target->mapTo(window, point), window);
        }
        QTest::touchEvent(window, m_device).release(id, target->mapTo(window, to), window);
    }

    // A drag moves the view, which goes on moving after the finger is lifted.
    void dragAndFlick(QAbstractScrollArea *view)
    {
        view->resize(400, 300);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view));
        QScrollBar *bar = view->verticalScrollBar();
        QVERIFY(bar->maximum() > 1000);
        QWidget *port = view->viewport();
        drag(view, port, {200, 250}, {200, 100}, 30);
        const int lifted = bar->value();
        QVERIFY2(lifted > 100, qPrintable(QString::number(lifted)));
        QTest::qWait(600);
        QVERIFY2(bar->value() > lifted + 50,
                 qPrintable(QString("%1 -> %2").arg(lifted).arg(bar->value())));
    }

private slots:
    // Each finger presses its own button; the numbers are 1 and 2 and a lifted one is free again.
    void twoFingersWorkTwoButtons()
    {
        LuaFixture f;
        LUA_RUN(f, panel);
        QWidget *window = f.widget("w");
        QWidget *b1 = f.widget("b1");
        QWidget *b2 = f.widget("b2");
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QTest::touchEvent(window, m_device).press(0, at(window, b1, 20), window);
        QTest::touchEvent(window, m_device).stationary(0).press(1, at(window, b2, 20), window);
        QCOMPARE(f.eval("b1:state() .. '+' .. b2:state()"), QString("down+down"));
        QTest::touchEvent(window, m_device).stationary(0).release(1, at(window, b2, 25), window);
        QTest::touchEvent(window, m_device).press(2, at(window, b2, 30), window).stationary(0);
        QTest::touchEvent(window, m_device).release(0, at(window, b1, 20), window).stationary(2);
        QTest::touchEvent(window, m_device).release(2, at(window, b2, 30), window);
        QCOMPARE(f.eval("table.concat(seen, ', ')"),
                 QString("b1 Press 1, b2 Press 2, b2 Release 2, b2 click, b2 Press 2, "
                         "b1 Release 1, b1 click, b2 Release 2, b2 click"));
    }

    // Sliding off lets the button up and lifting there clicks nothing; a consumed press keeps it
    // from going down at all.
    void fingerOffTheButtonOrConsumedGivesNoClick_data()
    {
        QTest::addColumn<QByteArray>("setup");
        QTest::addColumn<int>("releaseX");
        QTest::addColumn<QString>("state");
        QTest::newRow("slid off") << QByteArray() << 130 << "";
        QTest::newRow("consumed press") << QByteArray("answer.onTouchPress = 1") << 20 << "";
    }

    void fingerOffTheButtonOrConsumedGivesNoClick()
    {
        QFETCH(QByteArray, setup);
        QFETCH(int, releaseX);
        QFETCH(QString, state);
        LuaFixture f;
        LUA_RUN(f, panel + setup);
        QWidget *window = f.widget("w");
        QWidget *b1 = f.widget("b1");
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QTest::touchEvent(window, m_device).press(0, at(window, b1, 20), window);
        QTest::touchEvent(window, m_device).move(0, at(window, b1, releaseX), window);
        QCOMPARE(f.eval("b1:state()"), state);
        QTest::touchEvent(window, m_device).release(0, at(window, b1, releaseX), window);
        QVERIFY2(!f.eval("table.concat(seen, ', ')").contains("click"),
                 qPrintable(f.eval("table.concat(seen, ', ')")));
    }

    void screenplayScrollsUnderAFinger()
    {
        FDView view;
        view.clearScript();
        for (int i = 0; i < 400; ++i)
            view.addParagraph(QString("Line %1").arg(i), "Action", -1);
        view.endAdding();
        view.setEditing(false);
        dragAndFlick(&view);
        QVERIFY(!view.textCursor().hasSelection());
    }

    // Two fingers moving apart zoom in and leave fit-width; a double tap fits the width again.
    void pdfScrollsAndZoomsUnderFingers()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("pages.pdf");
        QVERIFY(writeTestDocument(file, 8));
        PdfView view;
        view.open(file);
        dragAndFlick(&view);
        QWidget *port = view.viewport();
        const double fitted = view.position().zoom;
        QTest::touchEvent(&view, m_device)
            .press(0, port->mapTo(&view, QPoint(150, 150)), &view)
            .press(1, port->mapTo(&view, QPoint(250, 150)), &view);
        for (int step = 1; step <= 10; ++step) {
            QTest::qWait(20);
            QTest::touchEvent(&view, m_device)
                .move(0, port->mapTo(&view, QPoint(150 - 5 * step, 150)), &view)
                .move(1, port->mapTo(&view, QPoint(250 + 5 * step, 150)), &view);
        }
        QTest::touchEvent(&view, m_device)
            .release(0, port->mapTo(&view, QPoint(100, 150)), &view)
            .release(1, port->mapTo(&view, QPoint(300, 150)), &view);
        QVERIFY2(view.position().zoom > fitted * 1.5,
                 qPrintable(QString("%1 -> %2").arg(fitted).arg(view.position().zoom)));
        QVERIFY(!view.position().fitWidth);
        QTest::qWait(500);
        for (int tap = 0; tap < 2; ++tap) {
            QTest::touchEvent(&view, m_device)
                .press(0, port->mapTo(&view, QPoint(200, 200)), &view);
            QTest::touchEvent(&view, m_device)
                .release(0, port->mapTo(&view, QPoint(200, 200)), &view);
            QTest::qWait(50);
        }
        QVERIFY(view.position().fitWidth);
        QCOMPARE(view.position().zoom, fitted);
    }

    // A mouse is finger 1.
    void mouseIsFingerOne()
    {
        LuaFixture f;
        LUA_RUN(f, panel);
        QTest::mouseClick(f.widget("b1"), Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(f.eval("table.concat(seen, ', ')"), QString("b1 Press 1, b1 Release 1, b1 click"));
    }
};

QTEST_MAIN(TestTouch)
#include "tst_touch.moc"
