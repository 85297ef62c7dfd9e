#include "common/luafixture.h"
#include "luax/luax.h"
#include "testdocument.h"
#include "viewers/pdfview.h"

#include <QElapsedTimer>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cstdlib>

static const luaL_Reg modules[] = {
    {"pdf2.core", luaopen_pdf2_core},
    {nullptr, nullptr},
};

// pdf2.core required as the host's preload table offers it, and a viewer in the global v.
class ViewerFixture : public LuaFixture
{
public:
    explicit ViewerFixture(const QByteArray &size = "400, 700")
    {
        luaX_preload(L, modules);
        run("pdf2 = require 'pdf2.core' v = pdf2.create() v:setGeometry(0, 0, " + size + ")");
        view = qobject_cast<PdfView *>(widget("v"));
    }

    // Opens the file through Lua and waits until the page at the top is on screen.
    bool open(const QString &path)
    {
        QSignalSpy opened(view, &PdfView::opened);
        lua_pushstring(L, path.toUtf8().constData());
        lua_setglobal(L, "path");
        return run("v:open(path)") && opened.wait(10000) && showsCurrentPage();
    }

    bool showsCurrentPage()
    {
        return QTest::qWaitFor([this] { return view->hasPage(view->currentPage()); }, 10000);
    }

    QString position() { return eval("table.concat({v:position()}, ' ')"); }
    QScrollBar *bar() const { return view->verticalScrollBar(); }
    int room() const { return view->viewport()->width() - 2 * PdfView::gap; }

    PdfView *view = nullptr;
};

class TestPdfView : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_five;    // five A5 pages
    QString m_squares; // three square pages

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_five = m_dir.filePath("five.pdf");
        m_squares = m_dir.filePath("squares.pdf");
        QVERIFY(writeTestDocument(m_five, 5));
        QVERIFY(writeTestDocument(m_squares, 3, {300, 300}));
    }

    void opensZoomedToFitTheWidth()
    {
        ViewerFixture f;
        QVERIFY(f.open(m_five));
        QCOMPARE(f.view->pageCount(), 5);
        QCOMPARE(f.view->pageRect(0).width(), f.room());
        QCOMPARE(f.view->zoom(), f.room() / 420.0);
        QCOMPARE(f.view->horizontalScrollBar()->maximum(), 0);
        QCOMPARE(f.eval("select(5, v:position())"), QString("1.0"));
        const QImage screen = f.view->viewport()->grab().toImage();
        const QRect page = f.view->pageRect(0);
        QVERIFY(nearColor(screen.pixelColor(page.right() - 8, page.top() + 20), testPageColor(0)));
        QVERIFY(nearColor(screen.pixelColor(page.left() + 8, page.top() + 20), testPageColor(0)));
    }

    void resizingKeepsTheWidthFittedAndThePlace()
    {
        ViewerFixture f;
        QVERIFY(f.open(m_five));
        f.bar()->setValue(f.view->pageRect(2).top() + f.bar()->value() + 100);
        const double zoom = f.view->zoom();
        LUA_RUN(f, "v:setGeometry(0, 0, 600, 700)");
        QCOMPARE(f.view->pageRect(2).width(), f.room());
        QCOMPARE(f.view->zoom(), f.room() / 420.0);
        QCOMPARE(f.view->currentPage(), 2);
        QVERIFY(std::abs(-f.view->pageRect(2).top() - qRound(100 * f.view->zoom() / zoom)) <= 1);
        QVERIFY(f.showsCurrentPage());
    }

    void pageStepsStopAtBothEnds()
    {
        ViewerFixture f("400, 300");
        QVERIFY(f.open(m_five));
        LUA_RUN(f, "v:scroll(-1)");
        QCOMPARE(f.bar()->value(), 0);
        for (int page = 1; page < 5; ++page) {
            LUA_RUN(f, "v:scroll(1)");
            QCOMPARE(f.eval("(v:position())"), QString::number(page));
            QCOMPARE(f.view->pageRect(page).top(), PdfView::gap);
        }
        const int last = f.bar()->value();
        LUA_RUN(f, "v:scroll(1) v:scroll(7)");
        QCOMPARE(f.bar()->value(), last);
        LUA_RUN(f, "v:scroll(0)");
        QCOMPARE(f.view->currentPage(), 3);
        LUA_RUN(f, "v:scroll(-5) v:scroll(math.mininteger)");
        QCOMPARE(f.view->currentPage(), 1);
        QVERIFY(!f.run("v:scroll()"));
        QVERIFY2(f.error.contains("number expected, got no value"), qPrintable(f.error));
        QVERIFY(!f.run("v:scroll(1.5)"));
        QVERIFY2(f.error.contains("number has no integer representation"), qPrintable(f.error));
        QCOMPARE(f.view->currentPage(), 1);
    }

    void positionAndGotoRoundTrip()
    {
        ViewerFixture f;
        QVERIFY(f.open(m_five));
        f.bar()->setValue(1234);
        QCOMPARE(f.eval("math.type((v:position())) .. math.type(select(3, v:position())) .. "
                        "math.type(select(4, v:position()))"),
                 QString("integerintegerfloat"));
        LUA_RUN(f, "saved = {v:position()} v:scroll(1) v:scroll(1)");
        QVERIFY(f.bar()->value() != 1234);
        LUA_RUN(f, "v['goto'](v, table.unpack(saved))");
        QCOMPARE(f.bar()->value(), 1234);
        QCOMPARE(f.eval("table.concat({v:position()}, ' ') == table.concat(saved, ' ')"),
                 QString("true"));
    }

    void gotoWithAFixedZoom()
    {
        ViewerFixture f;
        QVERIFY(f.open(m_five));
        LUA_RUN(f, "v['goto'](v, 1, 50, 10, 2.0, 0)");
        QCOMPARE(f.position(), QString("1 50 10 2.0 0.0"));
        QCOMPARE(f.view->pageRect(1).width(), 840);
        QVERIFY(f.view->horizontalScrollBar()->maximum() > 0);
        QVERIFY(f.showsCurrentPage());

        // Not fitting, the zoom stays when the view changes size; the offsets scale with a zoom.
        LUA_RUN(f, "v:setGeometry(0, 0, 500, 600)");
        QCOMPARE(f.position(), QString("1 50 10 2.0 0.0"));
        LUA_RUN(f, "v['goto'](v, 1, 50, 10, 1.0, 0)");
        QCOMPARE(f.position(), QString("1 0 10 1.0 0.0"));
        QCOMPARE(f.view->horizontalScrollBar()->maximum(), 0);
        LUA_RUN(f, "v['goto'](v, 1, 0, 40, 2.0, 1)");
        QCOMPARE(f.view->zoom(), f.room() / 420.0);
        QCOMPARE(f.view->currentPage(), 1);
        QCOMPARE(-f.view->pageRect(1).top(), qRound(32 * (f.view->zoom() / 2.0)));

        // All zeros, the position of an empty view, is the first page fitted to the width.
        LUA_RUN(f, "v['goto'](v, 0, 0, 0, 0, 0)");
        QCOMPARE(f.bar()->value(), 0);
        QCOMPARE(f.eval("select(5, v:position())"), QString("1.0"));
        LUA_RUN(f, "v['goto'](v, 99, 0, 0, 0, 1)");
        QCOMPARE(f.view->currentPage(), 4);
        LUA_RUN(f, "v['goto'](v, -3, 0, 0, 0, 1)");
        QCOMPARE(f.view->currentPage(), 0);
    }

    void gotoRefusesBadNumbers_data()
    {
        QTest::addColumn<QByteArray>("arguments");
        QTest::addColumn<QString>("error");
        QTest::newRow("none") << QByteArray("") << "#2 to 'goto' (number expected, got no value)";
        QTest::newRow("four") << QByteArray("1, 0, 0, 1") << "#6 to 'goto' (number expected";
        QTest::newRow("NaN page") << QByteArray("0/0, 0, 0, 1, 0") << "#2 to 'goto' (out of range)";
        QTest::newRow("huge offset")
            << QByteArray("0, 2^40, 0, 1, 0") << "#3 to 'goto' (out of range)";
        QTest::newRow("NaN zoom") << QByteArray("0, 0, 0, 0/0, 0") << "#5 to 'goto' (out of range)";
        QTest::newRow("zoom 100") << QByteArray("0, 0, 0, 100, 0") << "#5 to 'goto' (out of range)";
        QTest::newRow("zoom 0.05")
            << QByteArray("0, 0, 0, 0.05, 0") << "#5 to 'goto' (out of range)";
        QTest::newRow("negative zoom")
            << QByteArray("0, 0, 0, -1, 0") << "#5 to 'goto' (out of range)";
    }

    void gotoRefusesBadNumbers()
    {
        QFETCH(QByteArray, arguments);
        QFETCH(QString, error);
        ViewerFixture f;
        QVERIFY(f.open(m_five));
        LUA_RUN(f, "v:scroll(1)");
        const QString before = f.position();
        QVERIFY(
            !f.run("v['goto'](v" + QByteArray(arguments.isEmpty() ? "" : ", ") + arguments + ")"));
        QVERIFY2(f.error.contains(error), qPrintable(f.error));
        QCOMPARE(f.position(), before);
    }

    void fileThatDoesNotOpenShowsNothing_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << "missing.pdf" << QByteArray() << "no such file";
        QTest::newRow("text") << "notes.pdf" << QByteArray("just some notes\n")
                              << "not a PDF document";
        QTest::newRow("empty") << "empty.pdf" << QByteArray("") << "not a PDF document";
        QTest::newRow("folder") << "" << QByteArray() << "no such file";
    }

    void fileThatDoesNotOpenShowsNothing()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        const QString path = m_dir.filePath(name);
        if (!content.isNull()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        ViewerFixture f;
        QVERIFY(f.open(m_five));
        QSignalSpy failed(f.view, &PdfView::openFailed);
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^pdf2.core: cannot open \".*\": " + reason + "$"));
        lua_pushstring(f.L, path.toUtf8().constData());
        lua_setglobal(f.L, "path");
        LUA_RUN(f, "v:open(path)");
        QVERIFY(failed.wait(10000));
        QCOMPARE(failed.at(0).at(0).toString(), path);
        QCOMPARE(f.view->pageCount(), 0);
        QCOMPARE(f.position(), QString("0 0 0 0.0 0.0"));
        LUA_RUN(f, "v:scroll(1) v:scroll(-1) v['goto'](v, 2, 3, 4, 1, 0)");
        QCOMPARE(f.position(), QString("0 0 0 0.0 0.0"));
        const QImage screen =
            f.view->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < screen.height(); ++y)
            for (int x = 0; x < screen.width(); ++x)
                QVERIFY(screen.pixel(x, y) != qRgb(255, 255, 255));
    }

    void openingAnotherFileAtOnceShowsOnlyThatOne()
    {
        ViewerFixture f;
        QSignalSpy opened(f.view, &PdfView::opened);
        lua_pushstring(f.L, m_five.toUtf8().constData());
        lua_setglobal(f.L, "five");
        QVERIFY(f.open(m_squares));
        QCOMPARE(f.view->pageCount(), 3);
        QCOMPARE(f.view->pageRect(0).height(), f.view->pageRect(0).width());
        LUA_RUN(f, "v:open(five) v:open(path)");
        QTRY_COMPARE(opened.count(), 2);
        QTest::qWait(100);
        QCOMPARE(opened.count(), 2);
        QCOMPARE(f.view->pageCount(), 3);
    }

    void renderedPageMatchesPdftoppm()
    {
        const QString pdftoppm = QStandardPaths::findExecutable("pdftoppm");
        if (pdftoppm.isEmpty())
            QSKIP("pdftoppm (poppler-utils) is not installed");
        ViewerFixture f;
        QVERIFY(f.open(m_five));
        const QRect page = f.view->pageRect(0);
        QVERIFY(f.view->viewport()->rect().contains(page));
        const QImage ours =
            f.view->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32).copy(page);
        const QString prefix = m_dir.filePath("reference");
        const double dpi = 72 * f.view->zoom();
        QCOMPARE(QProcess::execute(pdftoppm, {"-r", QString::number(dpi, 'f', 6), "-f", "1", "-l",
                                              "1", "-singlefile", m_five, prefix}),
                 0);
        const QImage reference = QImage(prefix + ".ppm").convertToFormat(QImage::Format_RGB32);
        QVERIFY(!reference.isNull());
        QVERIFY(std::abs(reference.width() - ours.width()) <= 1);
        QVERIFY(std::abs(reference.height() - ours.height()) <= 1);
        const int width = std::min(reference.width(), ours.width());
        const int height = std::min(reference.height(), ours.height());
        long long total = 0;
        int different = 0;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const QColor a = ours.pixelColor(x, y), b = reference.pixelColor(x, y);
                const int difference =
                    std::max({std::abs(a.red() - b.red()), std::abs(a.green() - b.green()),
                              std::abs(a.blue() - b.blue())});
                total += difference;
                different += difference > 32;
            }
        }
        QVERIFY2(different <= width * height / 500, qPrintable(QString::number(different)));
        QVERIFY2(total <= 2LL * width * height, qPrintable(QString::number(total)));
    }

    // A place restored right after open was lost while the worker still read the file.
    void openIsReadyWhenItReturns()
    {
        ViewerFixture f;
        lua_pushstring(f.L, m_five.toUtf8().constData());
        lua_setglobal(f.L, "path");
        LUA_RUN(f, "v:open(path) v['goto'](v, 3, 0, 0, 0, 1) count = v:pageCount()");
        QCOMPARE(f.eval("count"), QString("5"));
        QCOMPARE(f.eval("select(3, v:position())"), QString("0"));
        QCOMPARE(f.eval("(v:position())"), QString("3"));
        QCOMPARE(f.view->zoom(), f.room() / 420.0);
    }

    // One wide page among narrow ones: the others keep the width of the view.
    void fitWidthFollowsThePageAtTheTop()
    {
        const QString wide = m_dir.filePath("wide.pdf");
        const QString mixed = m_dir.filePath("mixed.pdf");
        QVERIFY(writeTestDocument(wide, 1, {1190, 842}));
        if (QStandardPaths::findExecutable("pdfunite").isEmpty())
            QSKIP("needs pdfunite");
        QCOMPARE(QProcess::execute("pdfunite", {m_five, wide, mixed}), 0);
        ViewerFixture f;
        QVERIFY(f.open(mixed));
        QCOMPARE(f.view->zoom(), f.room() / 420.0);
        LUA_RUN(f, "v['goto'](v, 5, 0, 0, 0, 1)");
        QCOMPARE(f.view->zoom(), f.room() / 1190.0);
    }

    // Overwritten, then replaced by a rename: each time the view opens the file again at the
    // same page.
    void fileChangedOnDiskIsOpenedAgain()
    {
        const QString path = m_dir.filePath("changing.pdf");
        const QString four = m_dir.filePath("four.pdf");
        QVERIFY(writeTestDocument(four, 4));
        QFile::remove(path);
        QVERIFY(QFile::copy(m_five, path));
        ViewerFixture f;
        QVERIFY(f.open(path));
        LUA_RUN(f, "v['goto'](v, 2, 0, 0, 0, 1)");
        QFile file(path);
        QFile replacement(four);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                replacement.open(QIODevice::ReadOnly));
        file.write(replacement.readAll());
        file.close();
        QTRY_COMPARE(f.view->pageCount(), 4);
        QCOMPARE(f.view->currentPage(), 2);
        const QString fresh = m_dir.filePath("fresh.pdf");
        QFile::remove(fresh);
        QVERIFY(QFile::copy(m_five, fresh));
        QCOMPARE(std::rename(qPrintable(fresh), qPrintable(path)), 0);
        QTRY_COMPARE(f.view->pageCount(), 5);
        QCOMPARE(f.view->currentPage(), 2);
        QVERIFY(f.showsCurrentPage());
    }

    // A page that takes long to render: its view dies at once, and the page is abandoned.
    void slowPageHoldsNothingUp()
    {
        const QString heavy = m_dir.filePath("heavy.pdf");
        {
            QPdfWriter writer(heavy);
            writer.setResolution(72);
            writer.setPageSize(QPageSize(QSizeF(420, 595), QPageSize::Point));
            QPainter painter(&writer);
            painter.setRenderHint(QPainter::Antialiasing);
            for (int i = 0; i < 150000; ++i)
                painter.drawEllipse(QRectF(i % 400, (i / 400) % 580, 9.5, 7.5));
        }
        ViewerFixture f;
        lua_pushstring(f.L, heavy.toUtf8().constData());
        lua_setglobal(f.L, "path");
        LUA_RUN(f, "v:open(path)");
        QTest::qWait(300);
        QVERIFY(!f.view->hasPage(0));
        QElapsedTimer clock;
        clock.start();
        delete f.view;
        QVERIFY2(clock.elapsed() < 250, qPrintable(QString::number(clock.elapsed())));
    }

    void viewsDieWhileTheirWorkerRenders()
    {
        const QString many = m_dir.filePath("many.pdf");
        QVERIFY(writeTestDocument(many, 60));
        ViewerFixture f;
        lua_pushstring(f.L, many.toUtf8().constData());
        lua_setglobal(f.L, "many");
        LUA_RUN(f, "v:open(many) w = pdf2.create() w:open(many)");
        QSignalSpy opened(f.widget("w"), SIGNAL(opened(int)));
        QVERIFY(opened.wait(10000));
        delete f.view;
        LUA_RUN(f, "w:scroll(1) w:destroy()");
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!f.run("w:scroll(1)"));
        QVERIFY2(f.error.contains("attempting to access deleted PDFXCviewAxLib::CoPDFXCview"),
                 qPrintable(f.error));
        QVERIFY(!f.run("v:position()"));
    }

    void moduleAndArguments_data()
    {
        QTest::addColumn<QByteArray>("chunk");
        QTest::addColumn<QString>("error");
        QTest::newRow("no file name") << QByteArray("v:open()") << "string expected, got no value";
        QTest::newRow("zero byte") << QByteArray("v:open('a\\0b.pdf')") << "zero byte";
        QTest::newRow("not a viewer") << QByteArray("pdf2.open(qt.QWidget.create(), 'x')")
                                      << "PDFXCviewAxLib::CoPDFXCview expected, got userdata";
    }

    void moduleAndArguments()
    {
        QFETCH(QByteArray, chunk);
        QFETCH(QString, error);
        ViewerFixture f;
        QCOMPARE(f.eval("pdf2 == debug.getregistry()['PDFXCviewAxLib::CoPDFXCview'] and "
                        "getmetatable(v) == pdf2 and v.hide == qt.QWidget.hide"),
                 QString("true"));
        LUA_RUN(f, "w = pdf2.create(42) child = pdf2.create(v)");
        QVERIFY(f.widget("w")->isWindow() && f.widget("w")->isVisible());
        QCOMPARE(f.widget("child")->parentWidget(), static_cast<QWidget *>(f.view));
        QVERIFY(!f.run(chunk));
        QVERIFY2(f.error.contains(error), qPrintable(f.error));
    }
};

QTEST_MAIN(TestPdfView)
#include "tst_pdfview.moc"
