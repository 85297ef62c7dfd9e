#include "common/luafixture.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QtTest>

class TestTextEdit : public QObject
{
    Q_OBJECT

private slots:
    void lineEditTextAndCursor()
    {
        LuaFixture f;
        LUA_RUN(f, "e = qt.QLineEdit.create()");
        auto *edit = qobject_cast<QLineEdit *>(f.widget("e"));
        QVERIFY(edit && edit->isVisible() && !edit->hasFrame());
        LUA_RUN(f, "e:setText(42)");
        QCOMPARE(f.eval("e:text()"), QString("42"));
        LUA_RUN(f, "e:setText(nil)");
        QCOMPARE(f.eval("e:text()"), QString(""));
        LUA_RUN(f, "e:setText('abcdef') e:cursorMove(-3)");
        QCOMPARE(edit->cursorPosition(), 3);
        LUA_RUN(f, "e:cursorMove(-100)");
        QCOMPARE(edit->cursorPosition(), 0);
        LUA_RUN(f, "e:cursorMove(100)");
        QCOMPARE(edit->cursorPosition(), 6);
        LUA_RUN(f,
                "e:cursorMove(-2) e:insert('X') e:backspace() e:backspace() e:del() e:insert({})");
        QCOMPARE(f.eval("e:text()"), QString("abcf"));
        LUA_RUN(f, "e:selectAll() e:insert('new')");
        QCOMPARE(f.eval("e:text()"), QString("new"));
        QVERIFY(!f.run("e:cursorMove('x')"));
        QVERIFY(!f.run("e:cursorMove()"));
    }

    void cursorMoveByTheLargestIntegersStopsAtTheEnds()
    {
        LuaFixture f;
        LUA_RUN(f, "e = qt.QLineEdit.create() e:setText('abcdef') e:cursorMove(-3) "
                   "e:cursorMove(math.maxinteger)");
        auto *edit = qobject_cast<QLineEdit *>(f.widget("e"));
        QCOMPARE(edit->cursorPosition(), 6);
        LUA_RUN(f, "e:cursorMove(-3) e:cursorMove(math.mininteger)");
        QCOMPARE(edit->cursorPosition(), 0);
    }

    void lineEditTextKeepsZeroBytes()
    {
        LuaFixture f;
        LUA_RUN(f, R"(e = qt.QLineEdit.create() e:setText('a\0b'))");
        QCOMPARE(qobject_cast<QLineEdit *>(f.widget("e"))->text(), QString::fromUtf8("a\0b", 3));
        QCOMPARE(f.eval(R"(e:text() == 'a\0b')"), QString("true"));
    }

    void lineEditMaskAlignmentAndLength()
    {
        LuaFixture f;
        LUA_RUN(f, "e = qt.QLineEdit.create()");
        auto *edit = qobject_cast<QLineEdit *>(f.widget("e"));
        LUA_RUN(f, "e:setInputMask('99:99') e:insert('1234x')");
        QCOMPARE(f.eval("e:text()"), QString("12:34"));
        LUA_RUN(f, "e:setInputMask('') e:setText('ok')");
        QCOMPARE(f.eval("e:text()"), QString("ok"));
        QVERIFY(!f.run("e:setInputMask()"));
        LUA_RUN(f, "e:setAlignment('centre')");
        QCOMPARE(edit->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
        LUA_RUN(f, "e:setAlignment('right')");
        QCOMPARE(edit->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
        LUA_RUN(f, "e:setAlignment('c') e:setAlignment()");
        QCOMPARE(edit->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
        LUA_RUN(f, "e:setMaxLength(3) e:setText('abcdef')");
        QCOMPARE(f.eval("e:text()"), QString("abc"));
        QVERIFY(!f.run("e:setMaxLength('long')"));
    }

    void plainTextEditParagraphs()
    {
        LuaFixture f;
        LUA_RUN(f, "t = qt.QPlainTextEdit.create() t:append('one') t:append(2)");
        auto *edit = qobject_cast<QPlainTextEdit *>(f.widget("t"));
        QVERIFY(edit && edit->isVisible() && edit->frameShape() != QFrame::NoFrame);
        QCOMPARE(f.eval("t:text()"), QString("one\n2"));
        LUA_RUN(f, "t:clear()");
        QCOMPARE(f.eval("t:text()"), QString(""));
        QVERIFY(!f.run("qt.QPlainTextEdit.text(qt.QLineEdit.create())"));
        QVERIFY(f.error.contains("QPlainTextEdit expected, got userdata"));
    }

    void cursorMoveTrace()
    {
        const ChildResult result = runChild("e = qt.QLineEdit.create() e:setText('abc') "
                                            "e:cursorMove(-1) print('|')");
        QVERIFY2(result.output.contains("ltextedit_cursorMove -1 3|\n"), qPrintable(result.output));
    }
};

QTEST_MAIN(TestTextEdit)
#include "tst_textedit.moc"
