#include "common/luafixture.h"
#include "luax/luax.h"
#include "viewers/fdview.h"
#include "viewers/screenplay.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPropertyAnimation>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QtTest>

static const luaL_Reg modules[] = {
    {"fdview.core", luaopen_fdview_core},
    {nullptr, nullptr},
};

// fdview.core required as the host's preload table offers it, and a viewer in the global v.
class ViewerFixture : public LuaFixture
{
public:
    ViewerFixture()
    {
        luaX_preload(L, modules);
        run("FDView = require 'fdview.core' v = FDView.create() v:setGeometry(0, 0, 400, 300)");
        view = qobject_cast<FDView *>(widget("v"));
    }

    QScrollBar *bar() const { return view->verticalScrollBar(); }
    QPropertyAnimation *animation() const
    {
        return view->findChild<QPropertyAnimation *>("scrollAnimation");
    }
    // A script far longer than the view, laid out in full: the text edit lays out large
    // documents piece by piece, and the scroll range grows with each piece.
    bool fill()
    {
        if (!run("v:clear() for i = 1, 200 do v:add('Line ' .. i, 'Action') end"))
            return false;
        view->document()->documentLayout()->documentSize();
        QCoreApplication::processEvents();
        return bar()->maximum() > 2 * bar()->pageStep();
    }

    FDView *view = nullptr;
};

// The format of a paragraph's text (of the paragraph itself when it is empty).
static QTextCharFormat textformat(const QTextBlock &block)
{
    return block.begin().atEnd() ? block.charFormat() : block.begin().fragment().charFormat();
}

class TestFDView : public QObject
{
    Q_OBJECT

private slots:
    void kindsLayOutTheirParagraphs_data()
    {
        QTest::addColumn<QByteArray>("kind");
        QTest::addColumn<double>("scale");
        QTest::addColumn<double>("points");
        QTest::addColumn<bool>("bold");
        QTest::addColumn<int>("alignment");
        QTest::addColumn<double>("left");
        QTest::addColumn<double>("right");
        QTest::addColumn<QColor>("background");
        QTest::addColumn<QColor>("foreground");
        const int left = Qt::AlignLeft;
        const QColor none;
        const QColor grey(0x55, 0x55, 0x55);
        QTest::newRow("Scene") << QByteArray("Scene") << 1.0 << 10.0 << true << left << 0.0 << 0.0
                               << none << none;
        QTest::newRow("Action") << QByteArray("Action") << 1.0 << 10.0 << false << left << 20.0
                                << 20.0 << none << grey;
        QTest::newRow("Character") << QByteArray("Character") << 1.0 << 10.0 << false << left
                                   << 110.0 << 50.0 << QColor(Qt::red) << none;
        QTest::newRow("Dialogue") << QByteArray("Dialogue") << 1.0 << 10.0 << false << left << 70.0
                                  << 70.0 << none << none;
        QTest::newRow("Title") << QByteArray("Title") << 1.0 << 22.0 << true << int(Qt::AlignCenter)
                               << 0.0 << 0.0 << none << none;
        QTest::newRow("Page") << QByteArray("Page") << 1.0 << 8.0 << false << int(Qt::AlignRight)
                              << 0.0 << 40.0 << none << none;
        QTest::newRow("Page at scale 2: margins stay")
            << QByteArray("Page") << 2.0 << 16.0 << false << int(Qt::AlignRight) << 0.0 << 40.0
            << none << none;
        QTest::newRow("Title at scale 1.5") << QByteArray("Title") << 1.5 << 33.0 << true
                                            << int(Qt::AlignCenter) << 0.0 << 0.0 << none << none;
        QTest::newRow("letter case differs")
            << QByteArray("scene") << 1.0 << 10.0 << false << left << 0.0 << 0.0 << none << none;
        QTest::newRow("unknown kind") << QByteArray("Transition") << 1.0 << 10.0 << false << left
                                      << 0.0 << 0.0 << none << none;
        QTest::newRow("trailing zero byte")
            << QByteArray("Scene\\0") << 1.0 << 10.0 << false << left << 0.0 << 0.0 << none << none;
    }

    void kindsLayOutTheirParagraphs()
    {
        QFETCH(QByteArray, kind);
        QFETCH(double, scale);
        QFETCH(double, points);
        QFETCH(bool, bold);
        QFETCH(int, alignment);
        QFETCH(double, left);
        QFETCH(double, right);
        QFETCH(QColor, background);
        QFETCH(QColor, foreground);
        ViewerFixture f;
        LUA_RUN(f, "v:clear() v:setFontScale(" + QByteArray::number(scale) + ") v:add('Hello', '" +
                       kind + "', 5)");
        const QTextDocument *document = f.view->document();
        QCOMPARE(document->blockCount(), 2);
        QVERIFY(document->firstBlock().text().isEmpty());
        QCOMPARE(document->firstBlock().userState(), -1);
        const QTextBlock block = document->lastBlock();
        QCOMPARE(block.text(), QString("Hello"));
        QCOMPARE(block.userState(), 5);
        QCOMPARE(int(block.blockFormat().alignment()), alignment);
        QCOMPARE(block.blockFormat().leftMargin(), left);
        QCOMPARE(block.blockFormat().rightMargin(), right);
        const QTextCharFormat format = textformat(block);
        QCOMPARE(format.fontFamily(), QString("Courier New"));
        QCOMPARE(format.fontPointSize(), points);
        QCOMPARE(format.fontWeight() == QFont::Bold, bold);
        QCOMPARE(format.hasProperty(QTextFormat::BackgroundBrush), background.isValid());
        if (background.isValid())
            QCOMPARE(format.background(), QBrush(background));
        QCOMPARE(format.hasProperty(QTextFormat::ForegroundBrush), foreground.isValid());
        if (foreground.isValid())
            QCOMPARE(format.foreground(), QBrush(foreground));
    }

    void addWithoutKindKeepsTheLastKind()
    {
        ViewerFixture f;
        LUA_RUN(f, "v:clear() v:add('INT. HALL', 'Action', 3) v:add('She waits.')");
        QTextBlock block = f.view->document()->lastBlock();
        QCOMPARE(block.userState(), -1);
        QCOMPARE(block.blockFormat().leftMargin(), 20.0);
        QCOMPARE(textformat(block).foreground(), QBrush(QColor(0x55, 0x55, 0x55)));

        LUA_RUN(f, "v:add(nil, 'Title') v:add('THE END')");
        block = f.view->document()->lastBlock();
        for (const QTextBlock &title : {block.previous(), block}) {
            QCOMPARE(int(title.blockFormat().alignment()), int(Qt::AlignCenter));
            QCOMPARE(textformat(title).fontPointSize(), 22.0);
            QCOMPARE(textformat(title).fontWeight(), int(QFont::Bold));
        }
        QVERIFY(block.previous().text().isEmpty());
    }

    void everyLineOfAnAddIsATaggedParagraph()
    {
        ViewerFixture f;
        LUA_RUN(f, "v:clear() v:add('a\\nb\\r\\nc', 'Dialogue', 5)");
        QCOMPARE(f.view->document()->blockCount(), 4);
        for (QTextBlock block = f.view->document()->firstBlock().next(); block.isValid();
             block = block.next()) {
            QCOMPARE(block.userState(), 5);
            QCOMPARE(block.blockFormat().leftMargin(), 70.0);
        }
        QCOMPARE(f.view->document()->lastBlock().text(), QString("c"));
    }

    // 7,500 paragraphs in a view on screen: each change laid out on its own took seconds. Each
    // call is one change of the document now, laid out once.
    void longScriptChangesWithoutFreezing()
    {
        ViewerFixture f;
        QSignalSpy changes(f.view->document(), &QTextDocument::contentsChange);
        QElapsedTimer clock;
        clock.start();
        LUA_RUN(f, "v:clear() for i = 1, 1875 do v:add('INT. ROOM', 'Scene') "
                   "v:add('JONAS', 'Character', 2) v:add('He speaks a while.', 'Dialogue', 2) "
                   "v:add('He leaves.', 'Action') end");
        QCoreApplication::processEvents();
        qDebug() << "added in" << clock.restart() << "ms";
        QVERIFY2(changes.count() <= 3, qPrintable(QString::number(changes.count())));
        for (const char *change : {"v:setColor(2, 0xFFFF00)", "v:setVisibleForTag(2, 0)"}) {
            changes.clear();
            LUA_RUN(f, change);
            QCoreApplication::processEvents();
            qDebug() << change << clock.restart() << "ms";
            QCOMPARE(changes.count(), 1);
        }
    }

    // Hidden paragraphs take no room: the script closes up around them.
    void hiddenParagraphsLeaveNoGap()
    {
        ViewerFixture f;
        LUA_RUN(f, "v:clear() v:add('Before', 'Action') for i = 1, 20 do "
                   "v:add('JONAS', 'Character', 2) v:add('Words.', 'Dialogue', 2) end "
                   "v:add('After', 'Action')");
        f.view->endAdding();
        const qreal whole = f.view->document()->documentLayout()->documentSize().height();
        LUA_RUN(f, "v:setVisibleForTag(2, 0)");
        const qreal hidden = f.view->document()->documentLayout()->documentSize().height();
        QVERIFY2(hidden < whole / 10, qPrintable(QString("%1 of %2").arg(hidden).arg(whole)));
    }

    // The view opened at its end: the text edit shows its cursor when it is first shown.
    void positionAskedBeforeShowingHolds_data()
    {
        QTest::addColumn<QByteArray>("fraction");
        QTest::addColumn<double>("expected");
        QTest::newRow("none asked: the top") << QByteArray("nil") << 0.0;
        QTest::newRow("top") << QByteArray("0") << 0.0;
        QTest::newRow("half") << QByteArray("0.5") << 0.5;
    }

    void positionAskedBeforeShowingHolds()
    {
        QFETCH(QByteArray, fraction);
        QFETCH(double, expected);
        ViewerFixture f;
        LUA_RUN(f,
                QByteArray("page = qt.QWidget.create(nil, false) page:setGeometry(0, 0, 400, 300) "
                           "w = FDView.create(page) w:setGeometry(0, 0, 400, 300) w:clear() "
                           "for i = 1, 200 do w:add('Line ' .. i, 'Action') end "
                           "if FRACTION then w:setPosition(FRACTION) end")
                    .replace("FRACTION", fraction));
        auto *view = qobject_cast<FDView *>(f.widget("w"));
        f.widget("page")->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.widget("page")));
        QTest::qWait(50);
        const QScrollBar *bar = view->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), int(expected * bar->maximum()));
    }

    void nothingIsAddedBeforeClear()
    {
        ViewerFixture f;
        LUA_RUN(f, "v:add('Lost', 'Scene', 1) v:pagebreak()");
        QVERIFY(f.view->document()->isEmpty());

        LUA_RUN(f, "v:clear() v:pagebreak() v:clear() v:add('Kept', 'Scene') v:clear() v:add('x')");
        const QTextBlock block = f.view->document()->lastBlock();
        QCOMPARE(textformat(block).fontWeight(), int(QFont::Bold));
        QCOMPARE(f.view->document()->blockCount(), 2);

        LUA_RUN(f, "v:pagebreak()");
        bool rule = false;
        for (QTextBlock b = f.view->document()->begin(); b.isValid(); b = b.next())
            rule =
                rule || b.blockFormat().hasProperty(QTextFormat::BlockTrailingHorizontalRulerWidth);
        QVERIFY(rule);
    }

    void badArgumentsRaiseErrors_data()
    {
        QTest::addColumn<QByteArray>("chunk");
        QTest::addColumn<QString>("error");
        QTest::newRow("table as text") << QByteArray("v:add({})") << "string expected, got table";
        QTest::newRow("boolean as kind")
            << QByteArray("v:add('x', true)") << "string expected, got boolean";
        QTest::newRow("fractional tag")
            << QByteArray("v:add('x', 'Scene', 1.5)") << "number has no integer representation";
        QTest::newRow("tag past 32 bits")
            << QByteArray("v:add('x', 'Scene', 2^31)") << "out of range";
        QTest::newRow("no scale") << QByteArray("v:setFontScale()")
                                  << "number expected, got no value";
        QTest::newRow("NaN scale") << QByteArray("v:setFontScale(0/0)") << "out of range";
        QTest::newRow("zero scale") << QByteArray("v:setFontScale(0)") << "out of range";
        QTest::newRow("huge scale") << QByteArray("v:setFontScale(51)") << "out of range";
        QTest::newRow("not a viewer")
            << QByteArray("FDView.clear(qt.QWidget.create())") << "FDView expected, got userdata";
    }

    void badArgumentsRaiseErrors()
    {
        QFETCH(QByteArray, chunk);
        QFETCH(QString, error);
        ViewerFixture f;
        LUA_RUN(f, "v:clear()");
        QVERIFY(!f.run(chunk));
        QVERIFY2(f.error.contains(error), qPrintable(f.error));
        QCOMPARE(f.view->document()->blockCount(), 1);
        QCOMPARE(f.view->fontScale(), 1.0);
    }

    void moduleIsTheClassAndViewsDieCleanly()
    {
        ViewerFixture f;
        QCOMPARE(f.eval("FDView == debug.getregistry().FDView and getmetatable(v) == FDView"),
                 QString("true"));
        QCOMPARE(f.eval("v.setGeometry == qt.QWidget.setGeometry"), QString("true"));
        LUA_RUN(f, "w = FDView.create(42) child = FDView.create(v)");
        QVERIFY(f.widget("w")->isWindow() && f.widget("w")->isVisible());
        QCOMPARE(f.widget("child")->parentWidget(), static_cast<QWidget *>(f.view));
        LUA_RUN(f, "v:destroy()");
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!f.run("v:add('x')"));
        QVERIFY2(f.error.contains("attempting to access deleted FDView"), qPrintable(f.error));
    }

    void setColorGivesTheTagAnOpaqueBackground()
    {
        ViewerFixture f;
        LUA_RUN(f, "v:clear() v:add('one', 'Dialogue', 2) v:add('two', 'Character', 3) "
                   "v:add('three', 'Action', 2) v:setColor(2, 0x7FFFFF00)");
        const QBrush yellow(QColor(255, 255, 0));
        const QTextBlock first = f.view->document()->firstBlock();
        const QTextBlock one = first.next(), two = one.next(), three = two.next();
        QCOMPARE(textformat(one).background(), yellow);
        QCOMPARE(textformat(three).background(), yellow);
        QCOMPARE(textformat(three).foreground(), QBrush(QColor(0x55, 0x55, 0x55)));
        QCOMPARE(textformat(two).background(), QBrush(Qt::red));

        // Tags that no paragraph carries, a fractional one included (it reads as 0).
        LUA_RUN(f, "v:setColor(2 + 2^32, 0xFF) v:setColor(9, 0xFF) v:setColor(2.5, 0xFF)");
        QCOMPARE(textformat(one).background(), yellow);
        QCOMPARE(textformat(two).background(), QBrush(Qt::red));
    }

    void visibilityFlags_data()
    {
        QTest::addColumn<QByteArray>("flag");
        QTest::addColumn<bool>("visible");
        QTest::newRow("1") << QByteArray("1") << true;
        QTest::newRow("-3") << QByteArray("-3") << true;
        QTest::newRow("0") << QByteArray("0") << false;
        QTest::newRow("true") << QByteArray("true") << true;
        QTest::newRow("false") << QByteArray("false") << false;
        QTest::newRow("nil") << QByteArray("nil") << false;
        QTest::newRow("fraction") << QByteArray("0.5") << false;
        QTest::newRow("table") << QByteArray("{}") << false;
    }

    void visibilityFlags()
    {
        QFETCH(QByteArray, flag);
        QFETCH(bool, visible);
        ViewerFixture f;
        LUA_RUN(f, "v:clear() v:add('Shown', 'Scene', 3) v:add('Other', 'Scene', 4) "
                   "v:setVisibleForTag(3, " +
                       flag + ") v:setEdit(" + flag + ")");
        const QTextBlock block = f.view->document()->lastBlock().previous();
        QCOMPARE(textformat(block).fontPointSize(), visible ? 10.0 : 1.0);
        QCOMPARE(textformat(block).foreground() == QBrush(Qt::white), !visible);
        QCOMPARE(textformat(f.view->document()->lastBlock()).fontPointSize(), 10.0);
        QCOMPARE(f.view->isReadOnly(), !visible);
    }

    void shownParagraphsLookAsTheyDidBeforeHiding()
    {
        ViewerFixture f;
        LUA_RUN(f,
                "v:clear() v:add('THE END', 'Title', 4) v:add('ANNA', 'Character', 4) "
                "v:add('Hello', 'Dialogue', 5) v:setColor(4, 0x0000FF) v:setVisibleForTag(4, 0)");
        const QTextBlock title = f.view->document()->firstBlock().next();
        const QTextBlock name = title.next();
        const QBrush blue(QColor(0, 0, 255));
        QCOMPARE(textformat(title).fontPointSize(), 1.0);
        QCOMPARE(textformat(name).foreground(), QBrush(Qt::white));
        QVERIFY(!textformat(name).hasProperty(QTextFormat::BackgroundBrush));
        QVERIFY(!name.isVisible());

        LUA_RUN(f, "v:setColor(4, 0x00FF00) v:setVisibleForTag(4, 1)");
        const QBrush green(QColor(0, 255, 0));
        QCOMPARE(textformat(title).fontPointSize(), 22.0);
        QCOMPARE(textformat(title).fontWeight(), int(QFont::Bold));
        QVERIFY(!textformat(title).hasProperty(QTextFormat::ForegroundBrush));
        QCOMPARE(textformat(title).background(), green);
        QCOMPARE(textformat(name).fontPointSize(), 10.0);
        QCOMPARE(textformat(name).background(), green);
        QCOMPARE(textformat(name.next()).fontPointSize(), 10.0);

        LUA_RUN(f, "v:setFontScale(2) v:setVisibleForTag(4, 1)");
        QCOMPARE(textformat(title).fontPointSize(), 44.0);
        QCOMPARE(textformat(name.next()).fontPointSize(), 10.0);
    }

    void documentThatFitsStaysAtZero()
    {
        ViewerFixture f;
        LUA_RUN(f, "v:clear() v:add('Short', 'Scene')");
        QCOMPARE(f.bar()->maximum(), 0);
        QCOMPARE(f.eval("v:position()"), QString("0.0"));
        QCOMPARE(f.eval("v:scrollStep(1)"), QString("0.0"));
        QCOMPARE(f.eval("v:scrollStep(-1)"), QString("0.0"));
        LUA_RUN(f, "v:setPosition(0.5) v:scrollTo(1)");
        QCOMPARE(f.bar()->value(), 0);
    }

    void setPositionJumpsAtOnce_data()
    {
        QTest::addColumn<QByteArray>("fraction");
        QTest::addColumn<double>("expected");
        QTest::newRow("bottom") << QByteArray("1") << 1.0;
        QTest::newRow("half") << QByteArray("0.5") << 0.5;
        QTest::newRow("NaN") << QByteArray("0/0") << 0.0;
        QTest::newRow("below") << QByteArray("-3") << 0.0;
        QTest::newRow("infinity") << QByteArray("math.huge") << 1.0;
        QTest::newRow("not a number") << QByteArray("'x'") << 0.0;
    }

    void setPositionJumpsAtOnce()
    {
        QFETCH(QByteArray, fraction);
        QFETCH(double, expected);
        ViewerFixture f;
        QVERIFY(f.fill());
        f.bar()->setValue(10);
        LUA_RUN(f, "v:setPosition(" + fraction + ")");
        const int maximum = f.bar()->maximum();
        QVERIFY(maximum > 0);
        QCOMPARE(f.bar()->value(), int(expected * maximum));
        QCOMPARE(f.eval("v:position()").toDouble(), double(int(expected * maximum)) / maximum);
    }

    void scrollStepTargets_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<QByteArray>("steps");
        QTest::addColumn<QByteArray>("target"); // in pages p and the maximum m
        QTest::newRow("one page") << 0 << QByteArray("1") << QByteArray("p");
        QTest::newRow("zero steps move one unit") << 0 << QByteArray("0") << QByteArray("1");
        QTest::newRow("back past the top") << 10 << QByteArray("-1") << QByteArray("0");
        QTest::newRow("two and a half pages")
            << 0 << QByteArray("2.5") << QByteArray("math.floor(2.5 * p)");
        QTest::newRow("past the bottom") << 0 << QByteArray("1e9") << QByteArray("m");
        QTest::newRow("NaN moves one unit") << 0 << QByteArray("0/0") << QByteArray("1");
        QTest::newRow("a sliver back") << 100 << QByteArray("-0.001") << QByteArray("99");
    }

    void scrollStepTargets()
    {
        QFETCH(int, start);
        QFETCH(QByteArray, steps);
        QFETCH(QByteArray, target);
        ViewerFixture f;
        QVERIFY(f.fill());
        f.bar()->setValue(start);
        const QByteArray pages = "p, m = " + QByteArray::number(f.bar()->pageStep()) + ", " +
                                 QByteArray::number(f.bar()->maximum());
        LUA_RUN(f, pages + " target = " + target + " answer = v:scrollStep(" + steps + ")");
        const int expected = f.eval("target").toInt();
        QCOMPARE(f.eval("answer == target / m"), QString("true"));
        QCOMPARE(f.animation()->startValue().toInt(), start);
        QCOMPARE(f.animation()->endValue().toInt(), expected);
        QCOMPARE(f.animation()->duration(), 1000);
        QCOMPARE(f.animation()->easingCurve().type(), QEasingCurve::InOutCubic);
    }

    void twoQuickStepsEndTwoPagesDown()
    {
        ViewerFixture f;
        QVERIFY(f.fill());
        const int page = f.bar()->pageStep();
        LUA_RUN(f, "v:scrollStep(1)");
        QTRY_VERIFY(f.bar()->value() > 0);
        const int reached = f.bar()->value();
        QVERIFY2(reached > 0 && reached < page, qPrintable(QString::number(reached)));
        LUA_RUN(f, "second = v:scrollStep(1)");
        QCOMPARE(f.eval("second").toDouble(), double(2 * page) / f.bar()->maximum());
        QCOMPARE(f.animation()->startValue().toInt(), reached);
        QTRY_COMPARE_WITH_TIMEOUT(f.bar()->value(), 2 * page, 3000);
    }

    void twoQuickScrollsJumpToTheFirstTarget()
    {
        ViewerFixture f;
        QVERIFY(f.fill());
        QCOMPARE(f.eval("rawequal(FDView.scroll, FDView.scrollTo)"), QString("true"));
        const int maximum = f.bar()->maximum();
        LUA_RUN(f, "v:scroll(0.5)");
        QTRY_VERIFY(f.bar()->value() > 0);
        QVERIFY(f.bar()->value() < maximum / 2);
        LUA_RUN(f, "v:scrollTo(1)");
        QCOMPARE(f.animation()->startValue().toInt(), int(0.5 * maximum));
        QCOMPARE(f.animation()->endValue().toInt(), maximum);
        QTRY_COMPARE_WITH_TIMEOUT(f.bar()->value(), maximum, 3000);
    }

    // Each paragraph as kind:text, with @character for cues and dialogue; "--" a page break.
    void screenplayFilesGiveTheirParagraphs_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("paragraphs");
        QTest::newRow("fountain, every kind")
            << QByteArray("Title: The Test\nAuthor: Ann Writer\nDraft date: May\n\n"
                          "INT. KITCHEN - DAY #1#\n\nSteam rises. /* cut this */\n\n"
                          "BOB (V.O.)\n(quietly)\nHello [[a note]] there.\n\n"
                          "@McCLANE\nYippee.\n\n"
                          "ALICE ^\nBoth at once!\n\nCUT TO:\n\n.FLASHBACK\n\n===\n\n"
                          "> THE END <\n\n# Act two\n= synopsis\n!LOUD NOISE\n")
            << "Title:The Test | Title:Ann Writer | Action:May | -- | Scene:INT. KITCHEN - DAY | "
               "Action:Steam rises. | Character:BOB (V.O.)@BOB | Dialogue:(quietly)@BOB | "
               "Dialogue:Hello  there.@BOB | Character:McCLANE@McCLANE | "
               "Dialogue:Yippee.@McCLANE | Character:ALICE@ALICE | Dialogue:Both at once!@ALICE | "
               "Action:CUT TO: | Scene:FLASHBACK | -- | Action:THE END | Action:LOUD NOISE";
        QTest::newRow("fountain, odd characters")
            << QByteArray("ZOË (CONT'D)\n100% sure \\0 of *this*.\n\nint. café – night\n")
            << "Character:ZOË (CONT'D)@ZOË | Dialogue:100% sure \\0 of *this*.@ZOË | "
               "Scene:int. café – night";
        QTest::newRow("fdx")
            << QByteArray(
                   "<?xml version=\"1.0\"?>\n<FinalDraft><Content>"
                   "<Paragraph Type=\"Scene Heading\"><Text>EXT. PIER</Text></Paragraph>"
                   "<Paragraph Type=\"Action\"><Text>Gulls </Text><Text>cry.</Text></Paragraph>"
                   "<DualDialogue><Paragraph Type=\"Character\"><Text>EVE (O.S.)</Text>"
                   "</Paragraph><Paragraph Type=\"Parenthetical\"><Text>(shouting)</Text>"
                   "</Paragraph><Paragraph Type=\"Dialogue\"><Text>Now!</Text></Paragraph>"
                   "</DualDialogue><Paragraph Type=\"Transition\" StartsNewPage=\"Yes\">"
                   "<Text>FADE OUT.</Text></Paragraph></Content>"
                   "<TitlePage><Content><Paragraph><Text>Pier Nine</Text></Paragraph>"
                   "</Content></TitlePage></FinalDraft>")
            << "Scene:EXT. PIER | Action:Gulls cry. | Character:EVE (O.S.)@EVE | "
               "Dialogue:(shouting)@EVE | Dialogue:Now!@EVE | -- | Action:FADE OUT. | "
               "Title:Pier Nine";
    }

    void screenplayFilesGiveTheirParagraphs()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, paragraphs);
        Screenplay screenplay;
        QString error;
        QVERIFY2(screenplay.read(content, &error), qPrintable(error));
        QStringList seen;
        for (const Screenplay::Paragraph &p : screenplay.paragraphs())
            seen << (p.kind.isEmpty() ? QString("--")
                                      : p.kind + ':' + p.text +
                                            (p.character.isEmpty() ? "" : '@' + p.character));
        QCOMPARE(seen.join(" | "), paragraphs);
    }

    // load gives each character a tag, returns them, and shows the page numbers; a file that
    // cannot be read or is damaged leaves the view as it was.
    void loadTagsCharactersAndRefusesDamagedFiles()
    {
        QTemporaryDir dir;
        const auto write = [&](const QString &name, const QByteArray &content) {
            QFile file(dir.filePath(name));
            file.open(QIODevice::WriteOnly);
            file.write(content);
            return dir.filePath(name).toUtf8();
        };
        ViewerFixture f;
        const QByteArray good =
            write("good.txt", "BOB\nHi.\n\nANN\nHey.\n\n===\n\nBOB (CONT'D)\nBye.\n");
        LUA_RUN(f, "tags = v:load('" + good + "')");
        QCOMPARE(f.eval("tags.BOB .. ',' .. tags.ANN"), QString("1,2"));
        QStringList blocks;
        for (QTextBlock b = f.view->document()->firstBlock().next(); b.isValid(); b = b.next())
            blocks << QString("%1=%2").arg(b.text()).arg(b.userState());
        QCOMPARE(blocks.join(' '), QString("BOB=1 Hi.=1 ANN=2 Hey.=2 2.=-1 BOB (CONT'D)=1 Bye.=1"));
        const QString shown = f.view->toPlainText();
        for (const QByteArray &bad :
             {write("broken.fdx", "<?xml version=\"1.0\"?><FinalDraft><Content>"
                                  "<Paragraph><Text>cut"),
              write("binary.fountain", QByteArray("BOB\0\1\2", 6)),
              dir.filePath("missing.fountain").toUtf8()}) {
            QVERIFY(!f.run("v:load('" + bad + "')"));
            QVERIFY2(f.error.contains(bad + ": "), qPrintable(f.error));
            QCOMPARE(f.view->toPlainText(), shown);
        }
    }

    void readOnlyViewDoesNotSelectByDragging_data()
    {
        QTest::addColumn<QByteArray>("edit");
        QTest::addColumn<bool>("selects");
        QTest::newRow("read-only") << QByteArray("0") << false;
        QTest::newRow("editable") << QByteArray("1") << true;
    }

    void readOnlyViewDoesNotSelectByDragging()
    {
        QFETCH(QByteArray, edit);
        QFETCH(bool, selects);
        ViewerFixture f;
        LUA_RUN(f, "v:clear() v:add('some words to drag over', 'Action') v:setEdit(" + edit + ")");
        f.view->endAdding();
        QTextCursor cursor(f.view->document()->lastBlock());
        const QPoint from = f.view->cursorRect(cursor).center();
        cursor.movePosition(QTextCursor::EndOfBlock);
        const QPoint to = f.view->cursorRect(cursor).center();
        QWidget *viewport = f.view->viewport();
        QMouseEvent press(QEvent::MouseButtonPress, from, viewport->mapToGlobal(from),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &press);
        QMouseEvent move(QEvent::MouseMove, to, viewport->mapToGlobal(to), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &move);
        QMouseEvent release(QEvent::MouseButtonRelease, to, viewport->mapToGlobal(to),
                            Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &release);
        QCOMPARE(f.view->textCursor().hasSelection(), selects);
    }
};

QTEST_MAIN(TestFDView)
#include "tst_fdview.moc"
