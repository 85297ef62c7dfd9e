#include "common/luafixture.h"
#include "luax/luax.h"
#include "qtcore/graphic.h"
#include "qtcore/stylepainter.h"

#include <QPainter>
#include <QtTest>

#include <algorithm>
#include <cstdlib>
#include <new>

// The C++ allocations of each thread, counted so that a test can tell that a failed call left
// nothing behind: a Lua error unwinds past every delete. Every form goes to malloc and free, so
// any block meets the matching release.
static thread_local unsigned long allocations = 0;

static void *allocate(std::size_t size)
{
    ++allocations;
    return std::malloc(size ? size : 1);
}

void *operator new(std::size_t size)
{
    if (void *block = allocate(size))
        return block;
    throw std::bad_alloc();
}

void *operator new[](std::size_t size)
{
    if (void *block = allocate(size))
        return block;
    throw std::bad_alloc();
}

void *operator new(std::size_t size, const std::nothrow_t &) noexcept
{
    return allocate(size);
}

void *operator new[](std::size_t size, const std::nothrow_t &) noexcept
{
    return allocate(size);
}

void operator delete(void *block) noexcept
{
    std::free(block);
}

void operator delete[](void *block) noexcept
{
    std::free(block);
}

void operator delete(void *block, std::size_t) noexcept
{
    std::free(block);
}

void operator delete[](void *block, std::size_t) noexcept
{
    std::free(block);
}

void operator delete(void *block, const std::nothrow_t &) noexcept
{
    std::free(block);
}

void operator delete[](void *block, const std::nothrow_t &) noexcept
{
    std::free(block);
}

inline uint qHash(const QPoint &point, uint seed = 0)
{
    return ::qHash(qMakePair(point.x(), point.y()), seed);
}

// Paints on a fresh image from Lua (img, with painter p on it), ends the painter, returns the
// pixels.
static QImage paint(LuaFixture &f, const QByteArray &body, QSize size = QSize(20, 20))
{
    const QByteArray chunk = QByteArray("img = qt.Image.create(") +
                             QByteArray::number(size.width()) + ", " +
                             QByteArray::number(size.height()) + ") p = qt.QPainter.create(img) " +
                             body + " p = nil collectgarbage()";
    if (!f.run(chunk))
        qWarning() << f.error;
    lua_getglobal(f.L, "img");
    auto *pixmap = static_cast<QPixmap *>(luaX_testclass(f.L, -1, "Image"));
    lua_pop(f.L, 1);
    return pixmap ? pixmap->toImage() : QImage();
}

// The pixels of the image that differ from the background, as a set of points.
static QSet<QPoint> marked(const QImage &image, QRgb background = 0)
{
    QSet<QPoint> points;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != background)
                points.insert({x, y});
    return points;
}

static QSet<QPoint> rectPoints(const QRect &rect)
{
    QSet<QPoint> points;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            points.insert({x, y});
    return points;
}

static QColor stopColor(const Style &style, qreal at)
{
    for (const QGradientStop &stop : style.brush.gradient()->stops())
        if (qFuzzyCompare(stop.first + 1, at + 1))
            return stop.second;
    return QColor();
}

class TestPainter : public QObject
{
    Q_OBJECT

private slots:
    void imagesStartTransparentAndKnowTheirSize()
    {
        LuaFixture f;
        const QImage image = paint(f, "w, h = img:size() pw, ph = p:size()", {7, 3});
        QCOMPARE(image.size(), QSize(7, 3));
        QVERIFY(marked(image).isEmpty());
        QCOMPARE(f.eval("w .. 'x' .. h .. ' ' .. pw .. 'x' .. ph"), QString("7x3 7x3"));
    }

    void boxCoversExactlyItsPixels_data()
    {
        QTest::addColumn<QRect>("box");
        QTest::addColumn<QSet<QPoint>>("pixels");
        QTest::newRow("w 1 is a vertical line")
            << QRect(2, 3, 1, 4) << rectPoints(QRect(2, 3, 1, 4));
        QTest::newRow("h 1 is a horizontal line")
            << QRect(2, 3, 5, 1) << rectPoints(QRect(2, 3, 5, 1));
        QTest::newRow("w 0 draws nothing") << QRect(2, 3, 0, 4) << QSet<QPoint>();
        QTest::newRow("h 0 draws nothing") << QRect(2, 3, 4, 0) << QSet<QPoint>();
        QTest::newRow("3 by 2") << QRect(1, 1, 3, 2) << rectPoints(QRect(1, 1, 3, 2));
        QTest::newRow("4 by 4 is hollow")
            << QRect(1, 1, 4, 4) << (rectPoints(QRect(1, 1, 4, 4)) - rectPoints(QRect(2, 2, 2, 2)));
    }

    void boxCoversExactlyItsPixels()
    {
        QFETCH(QRect, box);
        QFETCH(QSet<QPoint>, pixels);
        LuaFixture f;
        const QImage image = paint(f, QString("p:box(%1, %2, %3, %4, 'red')")
                                          .arg(box.x())
                                          .arg(box.y())
                                          .arg(box.width())
                                          .arg(box.height())
                                          .toUtf8());
        QCOMPARE(marked(image), pixels);
        for (const QPoint &point : pixels)
            QCOMPARE(image.pixel(point), qRgb(255, 0, 0));
    }

    void boxUsesTheBrushAndLeavesThePainterAsFound()
    {
        LuaFixture f;
        const QImage image =
            paint(f, "p:setBrush('blue') p:setPen('green') p:box(0, 0, 4, 4, 'red') "
                     "p:box(10, 10, 3, 3)");
        QCOMPARE(image.pixel(0, 0), qRgb(255, 0, 0));
        QCOMPARE(image.pixel(1, 1), qRgb(0, 0, 255));
        QCOMPARE(image.pixel(10, 10), QColor(Qt::green).rgb());
    }

    void fillCoversItsRectangle()
    {
        LuaFixture f;
        QImage image = paint(f, "p:fill(2, 3, 4, 5, 'red') p:fill(0, 0, 0, 9, 'blue')");
        QCOMPARE(marked(image), rectPoints(QRect(2, 3, 4, 5)));
        image = paint(f, "p:setBrush(0x00FF00) p:fill(1, 1, 2, 2) p:fill(5, 5, 1, 1, {})");
        QCOMPARE(image.pixel(1, 1), qRgb(0, 255, 0));
        QCOMPARE(image.pixel(5, 5), qRgb(0, 255, 0));
        LUA_RUN(f, "qt.QWidget.create(nil, false)");
        QVERIFY(!f.run("lcdCanvas:fill(0, 0, 5, 5, 'nocolour')"));
        QVERIFY(f.error.contains("invalid option 'nocolour'"));
        QVERIFY(f.run("lcdCanvas:fill(0, 0, 5, 5, 'red') lcdCanvas:gradient(0, 0, 5, 5)"));
        QVERIFY(!f.run("p = qt.QPainter.create(img) p:fill(0, 0, 5)"));
        QVERIFY(f.error.contains("number expected, got no value"));
    }

    void textStandsOnItsTopLeftCorner()
    {
        LuaFixture f;
        const QImage image = paint(f,
                                   "p:fill(0, 0, 60, 40, 'white') p:text(5, 8, 'M', 20, 'black') "
                                   "after = p:size()",
                                   {60, 40});
        const QSet<QPoint> ink = marked(image, qRgb(255, 255, 255));
        QVERIFY(!ink.isEmpty());
        int top = 100;
        for (const QPoint &point : ink)
            top = qMin(top, point.y());
        QFont font;
        font.setPixelSize(20);
        const QFontMetrics metrics(font);
        // The glyph's top sits between the line's top and the baseline, y + ascent.
        QVERIFY2(top >= 8 && top < 8 + metrics.ascent(), qPrintable(QString::number(top)));
        QVERIFY(!f.run("p = qt.QPainter.create(img) p:text(1, 2)"));
    }

    void textSizeAndColourApplyToOneCall()
    {
        LuaFixture f;
        LUA_RUN(f, "img = qt.Image.create(10, 10) p = qt.QPainter.create(img) "
                   "p:setPen('red') p:text(0, 0, 'x', 20, 'blue')");
        lua_getglobal(f.L, "p");
        auto *painter = static_cast<QPainter *>(luaX_testclass(f.L, -1, "QPainter"));
        lua_pop(f.L, 1);
        QVERIFY(painter->font().pixelSize() != 20);
        QCOMPARE(painter->pen().color(), QColor(Qt::red));
    }

    void imageCopiesWholeOrPart()
    {
        LuaFixture f;
        const QImage image = paint(f, R"(
            src = qt.Image.create(4, 4)
            local q = qt.QPainter.create(src)
            q:fill(0, 0, 2, 4, 'red') q:fill(2, 0, 2, 4, 'blue')
            q = nil collectgarbage()
            p:image(1, 1, src)
            p:image(10, 10, src, 2, 1, 2, 3)
        )");
        QCOMPARE(marked(image), rectPoints(QRect(1, 1, 4, 4)) + rectPoints(QRect(10, 10, 2, 3)));
        QCOMPARE(image.pixel(1, 1), qRgb(255, 0, 0));
        QCOMPARE(image.pixel(4, 4), qRgb(0, 0, 255));
        QCOMPARE(image.pixel(10, 10), qRgb(0, 0, 255));
    }

    void painterKeepsItsImageAlive()
    {
        LuaFixture f;
        LUA_RUN(f,
                "p = qt.QPainter.create(qt.Image.create(10, 10)) collectgarbage() collectgarbage() "
                "p:fill(0, 0, 5, 5, 'red') w = p:size()");
        QCOMPARE(f.eval("w"), QString("10"));
        // At close the pair is collected in whatever order; neither may touch the other's ruins.
        LUA_RUN(f, "keep = {} for i = 1, 20 do local im = qt.Image.create(5, 5) "
                   "keep[i] = {qt.QPainter.create(im), im} end");
    }

    void styleResolver_data()
    {
        QTest::addColumn<QString>("style");
        QTest::addColumn<QString>("state");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("radius");
        QTest::addColumn<QColor>("pen");
        QTest::addColumn<QColor>("solid");
        const QColor k(0x20, 0x60, 0xA0);
        const QColor grey(0x80, 0x80, 0x80);
        const QColor none;
        const QColor outline(0x33, 0x33, 0x33);
        const QColor red(Qt::red);
        QTest::newRow("empty") << ""
                               << "" << 0 << 0 << red << k;
        QTest::newRow("empty disabled") << ""
                                        << "disabled" << 0 << 0 << red << grey;
        QTest::newRow("panel") << "panel"
                               << "" << 1 << 8 << QColor(Qt::white) << k;
        QTest::newRow("panel disabled") << "panel"
                                        << "disabled" << 1 << 8 << outline << grey;
        QTest::newRow("Panel is other") << "Panel"
                                        << "" << 0 << 0 << red << k;
        QTest::newRow("panel.gradient disabled") << "panel.gradient"
                                                 << "disabled" << 1 << 8 << outline << grey;
        QTest::newRow("msgbox.panel")
            << "msgbox.panel"
            << "disabled" << 1 << 0 << QColor(Qt::white) << QColor(0x32, 0x32, 0x5A, 0xE6);
        QTest::newRow("cell.panel") << "cell.panel"
                                    << "" << 0 << 4 << red << k;
        QTest::newRow("timecode") << "timecode"
                                  << "" << 1 << 6 << QColor(Qt::white) << k;
        QTest::newRow("gradient disabled") << "gradient"
                                           << "disabled" << 0 << 0 << red << grey;
        QTest::newRow("other") << "whatever"
                               << "down" << 0 << 0 << red << k;
        QTest::newRow("button disabled") << "button"
                                         << "disabled" << 1 << 3 << outline << grey;
        QTest::newRow("button down") << "button"
                                     << "down" << 1 << 3 << outline << k.lighter(115);
        QTest::newRow("bx is a button") << "bx"
                                        << "down" << 1 << 3 << outline << k.lighter(115);
        QTest::newRow("button.flat") << "button.flat"
                                     << "" << 1 << 3 << outline << k;
        QTest::newRow("button.compact disabled") << "button.compact"
                                                 << "disabled" << 1 << 3 << outline << grey;
        QTest::newRow("button.selected down")
            << "button.selected"
            << "down" << 2 << 3 << QColor(0x00, 0xC0, 0x00) << k.lighter(115);
        QTest::newRow("button.selected disabled") << "button.selected"
                                                  << "disabled" << 1 << 3 << outline << grey;
        QTest::newRow("button.warning")
            << "button.warning"
            << "down" << 2 << 3 << QColor(0xD0, 0x00, 0x00) << k.lighter(115);
    }

    void styleResolver()
    {
        QFETCH(QString, style);
        QFETCH(QString, state);
        QFETCH(int, width);
        QFETCH(int, radius);
        QFETCH(QColor, pen);
        QFETCH(QColor, solid);
        const Style result = resolveStyle(style.toUtf8().constData(), state.toUtf8().constData(),
                                          QColor(0x20, 0x60, 0xA0), QRectF(0, 0, 10, 10));
        QCOMPARE(result.penWidth, width);
        QCOMPARE(result.radius, radius);
        QCOMPARE(result.pen, pen);
        QCOMPARE(result.brush.style(), Qt::SolidPattern);
        QCOMPARE(result.brush.color(), solid);
    }

    void gradientStopsFollowTheShades()
    {
        const QRectF rect(0, 10, 50, 100);
        Style button = resolveStyle("button", "", Qt::black, rect);
        QCOMPARE(stopColor(button, 0), QColor(Qt::white));
        QCOMPARE(stopColor(button, 0.05), QColor(0x6F, 0x6F, 0x6F));
        QCOMPARE(stopColor(button, 0.49), QColor(0x35, 0x35, 0x35));
        QCOMPARE(stopColor(button, 0.5), QColor(0x26, 0x26, 0x26));
        const auto *linear = static_cast<const QLinearGradient *>(button.brush.gradient());
        QCOMPARE(linear->start(), QPointF(0, 10));
        QCOMPARE(linear->finalStop(), QPointF(0, 110));
        QCOMPARE(resolveStyle("button.compact", "", Qt::black, rect).radius, 0);

        const QColor mid(150, 150, 150);
        Style cell = resolveStyle("button.cell", "", mid, rect);
        QCOMPARE(stopColor(cell, 0), mid.lighter(130));
        QCOMPARE(stopColor(cell, 1), mid.lighter(110));
        Style highlight = resolveStyle("button.highlight", "", mid, rect);
        QCOMPARE(stopColor(highlight, 0), mid.lighter(130).lighter(120));
        QCOMPARE(stopColor(highlight, 1), mid.lighter(110).lighter(140));
        const QColor light(230, 230, 230);
        Style panel = resolveStyle("panel.gradient", "", light, rect);
        QCOMPARE(stopColor(panel, 0), light.lighter(105));
        QCOMPARE(stopColor(panel, 1), light.lighter(120));
        Style textbox = resolveStyle("textbox", "disabled", light, rect);
        QCOMPARE(stopColor(textbox, 0.05), QColor(0x80, 0x80, 0x80));
        QCOMPARE(textbox.penWidth, 0);
    }

    void plainButtonOnBlackPixels()
    {
        LuaFixture f;
        const QImage image = paint(f, "p:gradient(0, 0, 40, 200, 'black', 'button')", {40, 200});
        // Inside the outline: the fill runs white, #6F6F6F, #353535, then #262626 below the middle.
        QCOMPARE(QColor(image.pixel(20, 150)), QColor(0x26, 0x26, 0x26));
        QVERIFY(qGray(image.pixel(20, 2)) > qGray(image.pixel(20, 10)));
        QCOMPARE(QColor(image.pixel(20, 10)), QColor(0x6F, 0x6F, 0x6F));
        QVERIFY(qAbs(qGray(image.pixel(20, 97)) - 0x35) <= 2);
        QCOMPARE(QColor(image.pixel(0, 100)), QColor(0x33, 0x33, 0x33));
    }

    void disabledPanelAndTransparency()
    {
        LuaFixture f;
        QImage image = paint(f, "p:gradient(0, 0, 40, 40, 'red', 'panel', 'disabled')", {40, 40});
        QCOMPARE(QColor(image.pixel(20, 20)), QColor(0x80, 0x80, 0x80));
        QCOMPARE(QColor(image.pixel(20, 0)), QColor(0x33, 0x33, 0x33));
        image = paint(f,
                      "p:gradient(0, 0, 40, 40, 'transparent', 'panel') "
                      "p:gradient(0, 0, 40, 40, 0xFF000000, 'button')",
                      {40, 40});
        QVERIFY(marked(image).isEmpty());
        image = paint(f, "p:setBrush('red') p:gradient(0, 0, 40, 40, nil, 'panel')", {40, 40});
        QCOMPARE(QColor(image.pixel(20, 20)), QColor(Qt::red));
        image = paint(f, "p:gradient(0, 0, 40, 40, 'red', 'msgbox.panel', 'down')", {40, 40});
        QCOMPARE(QColor::fromRgba(image.pixel(20, 20)).alpha(), 0xE6);
    }

    void allStylesMatchTheGoldenImage()
    {
        LuaFixture f;
        const QImage image = paint(f, R"(
            local styles = {'', 'panel', 'panel.gradient', 'msgbox.panel', 'cell.panel', 'timecode',
                'textbox', 'gradient', 'button', 'button.compact', 'button.flat', 'button.cell',
                'button.highlight', 'button.selected', 'button.warning', 'other'}
            local states = {'', 'down', 'disabled'}
            p:fill(0, 0, 640, 150, 'black')
            for i, style in ipairs(styles) do
                for j, state in ipairs(states) do
                    p:gradient((i - 1) * 40 + 2, (j - 1) * 50 + 2, 36, 46, 0x3070B0, style, state)
                end
            end
        )",
                                   {640, 150});
        const QImage golden(QFINDTESTDATA("data/styles.png"));
        if (golden.isNull() || qEnvironmentVariableIsSet("REMOTE_WRITE_GOLDEN")) {
            image.save(QDir::currentPath() + "/styles.png");
            QSKIP("golden image written to the working directory");
        }
        QCOMPARE(golden.size(), image.size());
        int worst = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QRgb a = image.pixel(x, y);
                const QRgb b = golden.pixel(x, y);
                worst = std::max({worst, qAbs(qRed(a) - qRed(b)), qAbs(qGreen(a) - qGreen(b)),
                                  qAbs(qBlue(a) - qBlue(b)), qAbs(qAlpha(a) - qAlpha(b))});
            }
        QVERIFY2(worst <= 8, qPrintable(QString("largest channel difference %1").arg(worst)));
    }

    void graphicsFromFilesAndSprites()
    {
        LuaFixture f;
        const int before = graphicLoads();
        QImage image = paint(f,
                             "p:graphic('logo', {x=0, y=0, w=40, h=10}) "
                             "p:graphic('logo', {x=0, y=10, w=40, h=10})",
                             {40, 20});
        QCOMPARE(graphicLoads() - before, 1);
        QVERIFY(marked(image).size() > 200);
        image = paint(f, "p:graphic('cog', {x=0, y=0, w=20, h=20})");
        QVERIFY(marked(image).size() > 50);
        QVERIFY(
            !f.run("p = qt.QPainter.create(img) p:graphic('nosuchicon', {x=0, y=0, w=5, h=5})"));
        QVERIFY(f.error.endsWith("Cannot find graphic 'fa-nosuchicon'"));
        // A broken picture file falls back to the sprite of the same name, for good.
        image = paint(f, "p:graphic('music', {x=0, y=0, w=20, h=20}) p:graphic('music')");
        QVERIFY(marked(image).size() > 50);
        const int loads = graphicLoads();
        paint(f, "p:graphic('music', {x=0, y=0, w=5, h=5})");
        QCOMPARE(graphicLoads(), loads);
    }

    void painterOfACollectedImageDrawsNothing()
    {
        LuaFixture f;
        LUA_RUN(f, "img = qt.Image.create(10, 10) p = qt.QPainter.create(img) qt.Image.__gc(img)");
        QCOMPARE(f.eval("table.concat({p:size()}, ' ')"), QString("0 0"));
        LUA_RUN(f, "p:setPen('red') p:setBrush('red') p:setFont(qt.QFont.create()) "
                   "p:fill(0, 0, 5, 5, 'red') p:box(0, 0, 4, 4, 'red') "
                   "p:gradient(0, 0, 5, 5, 'red', 'button') p:text(0, 0, 'x', 12, 'red') "
                   "p:image(0, 0, qt.Image.create(2, 2)) p:graphic('cog', {x=0, y=0, w=5, h=5})");
        QCOMPARE(f.eval("table.concat({p:size()}, ' ')"), QString("0 0"));
    }

    void sharedPainterIsIdleOutsidePaint()
    {
        LuaFixture f;
        LUA_RUN(f,
                "w = qt.QWidget.create(nil, false) "
                "answer.onPaint = function() during = table.concat({lcdCanvas:size()}, ' ') end");
        QCOMPARE(f.eval("table.concat({lcdCanvas:size()}, ' ')"), QString("0 0"));
        QWidget *w = f.widget("w");
        w->resize(30, 20);
        w->grab();
        QCOMPARE(f.eval("during"), QString("30 20"));
        QCOMPARE(f.eval("table.concat({lcdCanvas:size()}, ' ')"), QString("0 0"));
        delete w;
        QCOMPARE(f.eval("table.concat({lcdCanvas:size()}, ' ')"), QString("0 0"));
    }

    void graphicRectThatDeletesThePainterIsAnError()
    {
        LuaFixture f;
        LUA_RUN(f,
                "img = qt.Image.create(10, 10) p = qt.QPainter.create(img) "
                "rect = setmetatable({}, {__index = function() qt.QPainter.__gc(p) return 5 end})");
        QVERIFY(!f.run("p:graphic('cog', rect)"));
        QVERIFY2(f.error.contains("attempting to access deleted QPainter"), qPrintable(f.error));
    }

    void outOfRangeNumbersAreErrors_data()
    {
        QTest::addColumn<QByteArray>("call");
        QTest::newRow("text y past int") << QByteArray("p:text(0, 2^31 - 1, 'x')");
        QTest::newRow("text x below -32768") << QByteArray("p:text(-32769, 0, 'x')");
        QTest::newRow("fill width 2^40") << QByteArray("p:fill(0, 0, 2^40, 1)");
        QTest::newRow("fill x past 32767") << QByteArray("p:fill(32768, 0, 1, 1)");
        QTest::newRow("box y past int") << QByteArray("p:box(0, 2^31 - 1, 2, 2)");
        QTest::newRow("text pixel size") << QByteArray("p:text(0, 0, 'x', 100000)");
        QTest::newRow("font pixel size") << QByteArray("qt.QFont.create():setFont(100000)");
        QTest::newRow("font pixel size 2049") << QByteArray("qt.QFont.create():setFont(2049)");
        QTest::newRow("image wider than 16384") << QByteArray("qt.Image.create(16385, 1)");
        QTest::newRow("image area past 32 bits") << QByteArray("qt.Image.create(67296, 67296)");
        QTest::newRow("negative image height") << QByteArray("qt.Image.create(1, -1)");
    }

    void outOfRangeNumbersAreErrors()
    {
        QFETCH(QByteArray, call);
        LuaFixture f;
        LUA_RUN(f, "img = qt.Image.create(20, 20) p = qt.QPainter.create(img)");
        QVERIFY(!f.run(call));
        QVERIFY2(f.error.contains("out of range"), qPrintable(f.error));
    }

    void numbersAtTheLimitsAreAccepted()
    {
        LuaFixture f;
        LUA_RUN(f, "big = qt.Image.create(16384, 1) w, h = big:size() "
                   "img = qt.Image.create(20, 20) p = qt.QPainter.create(img) "
                   "p:fill(-32768, 32767, 1, 1) p:text(32767, -32768, 'x', 2048) "
                   "qt.QFont.create():setFont(2048)");
        QCOMPARE(f.eval("w .. 'x' .. h"), QString("16384x1"));
    }

    void failedFontCopyAllocatesNothing()
    {
        LuaFixture f;
        QCOMPARE(luaL_loadstring(f.L, "return pcall(qt.QFont.copy, 42)"), LUA_OK);
        const unsigned long before = allocations;
        QCOMPARE(lua_pcall(f.L, 0, 2, 0), LUA_OK);
        const unsigned long made = allocations - before;
        const bool ok = lua_toboolean(f.L, -2);
        const QString message = QString::fromUtf8(lua_tostring(f.L, -1));
        lua_settop(f.L, 0);
        QVERIFY(!ok);
        QVERIFY2(message.contains("QFont expected, got number"), qPrintable(message));
        QCOMPARE(made, 0ul);
    }

    void fontAttributes()
    {
        LuaFixture f;
        LUA_RUN(f, "font = qt.QFont.create() copy = font:copy() "
                   "font:setFont('Arial', 14, 'bold', 'italic', nil, 'underline')");
        lua_getglobal(f.L, "font");
        const QFont font = *static_cast<QFont *>(luaX_testclass(f.L, -1, "QFont"));
        lua_getglobal(f.L, "copy");
        const QFont copy = *static_cast<QFont *>(luaX_testclass(f.L, -1, "QFont"));
        lua_settop(f.L, 0);
        QCOMPARE(font.family(), QString("Arial"));
        QCOMPARE(font.pixelSize(), 14);
        QCOMPARE(font.weight(), 75);
        QVERIFY(font.italic() && font.underline() && !font.overline());
        QCOMPARE(copy.family(), QString("Courier New"));
        QCOMPARE(copy.weight(), 50);
        QCOMPARE(copy.styleStrategy(), QFont::PreferAntialias);
        QVERIFY(!copy.italic());

        LUA_RUN(f, "font:setFont('18', 'Bold', 'light') font:setFont()");
        lua_getglobal(f.L, "font");
        const QFont changed = *static_cast<QFont *>(luaX_testclass(f.L, -1, "QFont"));
        lua_settop(f.L, 0);
        QCOMPARE(changed.pixelSize(), 18);
        QCOMPARE(changed.family(), QString("Bold"));
        QCOMPARE(changed.weight(), 25);
        QVERIFY(!f.run("font:setFont(12, 'bolder')"));
        QVERIFY2(f.error.endsWith("bad argument #2 to 'setFont' (Unexpected font attribute)"),
                 qPrintable(f.error));
        QVERIFY(!f.run("font:setFont(true)"));
        QCOMPARE(f.eval("select(1, font:textBounds(''))"), QString("0"));
        QCOMPARE(f.eval("select(2, font:textBounds('Hello')) > 0"), QString("true"));
        QVERIFY(!f.run("font:textBounds()"));
        LUA_RUN(f, "w = qt.QWidget.create(nil, false) w:setFont(font)");
        QCOMPARE(f.widget("w")->font().pixelSize(), 12);
    }
};

QTEST_MAIN(TestPainter)
#include "tst_painter.moc"
