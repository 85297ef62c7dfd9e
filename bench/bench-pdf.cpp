// Time from opening a 300-page PDF to its first page on screen at fit width, against pdftoppm
// rendering that page at the same resolution; then the steps through 20 pages. A heartbeat on
// the GUI thread measures the longest time the window could not have answered meanwhile.
#include "benchsupport.h"
#include "luax/luax.h"
#include "viewers/pdfview.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

static const int pageCount = 300;
static const int steps = 20;
static const int rounds = 5;

static const luaL_Reg modules[] = {
    {"pdf2.core", luaopen_pdf2_core},
    {nullptr, nullptr},
};

static const char *const sentence = "Every event reaches the application through one handler, "
                                    "and the window must answer while pages are drawn. ";

// Pages of running text, as real documents have them: glyphs are most of the rendering work.
static bool writedocument(const QString &path)
{
    QPdfWriter writer(path);
    writer.setResolution(72);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Point);
    QPainter painter;
    if (!painter.begin(&writer))
        return false;
    QFont font("DejaVu Serif");
    font.setPixelSize(10);
    painter.setFont(font);
    for (int page = 0; page < pageCount; ++page) {
        if (page > 0)
            writer.newPage();
        painter.drawText(QPointF(50, 50), QString("Page %1").arg(page + 1));
        painter.drawRect(QRectF(40, 60, 515, 740));
        for (int row = 0; row < 60; ++row)
            painter.drawText(QRectF(50, 70 + row * 12, 495, 12), sentence);
    }
    return painter.end();
}

// Fires every millisecond; the longest gap between two beats is the longest stall.
class Heartbeat
{
public:
    Heartbeat()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { beat(); });
    }

    void start()
    {
        m_clock.start();
        m_last = 0;
        m_longest = 0;
        m_timer.start();
    }

    double stop()
    {
        beat();
        m_timer.stop();
        return m_longest / 1e6;
    }

private:
    void beat()
    {
        const qint64 now = m_clock.nsecsElapsed();
        m_longest = std::max(m_longest, now - m_last);
        m_last = now;
    }

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};

// Runs the event loop until the condition holds, checked as each page arrives; 30 s at most.
static void waitfor(PdfView *view, const std::function<bool()> &done)
{
    if (done())
        return;
    QEventLoop loop;
    QObject::connect(view, &PdfView::pageRendered, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    loop.exec();
}

static double elapsedms(const QElapsedTimer &clock)
{
    return clock.nsecsElapsed() / 1e6;
}

// From the Lua call to the page painted in the window.
static double showpage(lua_State *L, PdfView *view, const char *call)
{
    QElapsedTimer clock;
    clock.start();
    luaX_dostring(L, call, nullptr);
    const int page = view->currentPage();
    waitfor(view, [view, page] { return view->hasPage(page); });
    view->viewport()->repaint();
    return elapsedms(clock);
}

static double pdftoppm(const QString &program, const QString &path, double dpi,
                       const QString &prefix)
{
    QElapsedTimer clock;
    clock.start();
    QProcess::execute(program, {"-r", QString::number(dpi, 'f', 6), "-f", "1", "-l", "1",
                                "-singlefile", path, prefix});
    return elapsedms(clock);
}

int main(int argc, char **argv)
{
    useOffscreenUnlessSet();
    QApplication app(argc, argv);
    const QString program = QStandardPaths::findExecutable("pdftoppm");
    QTemporaryDir dir;
    const QString path = dir.filePath("bench.pdf");
    if (program.isEmpty() || !writedocument(path)) {
        fprintf(stderr,
                "bench-pdf needs pdftoppm (poppler-utils) and a writable temporary folder\n");
        return 1;
    }
    const QString prefix = dir.filePath("page");

    lua_State *L = newQtCoreState();
    luaX_preload(L, modules);
    lua_pushstring(L, path.toUtf8().constData());
    lua_setglobal(L, "path");
    luaX_dostring(L, "pdf2 = require 'pdf2.core' v = pdf2.create() v:setGeometry(0, 0, 800, 1000)",
                  nullptr);
    lua_getglobal(L, "v");
    auto *view = qobject_cast<PdfView *>(static_cast<QObject *>(luaX_checkclass(L, -1, "QWidget")));
    lua_pop(L, 1);

    showpage(L, view, "v:open(path)");
    const double dpi = 72 * view->zoom() * view->viewport()->devicePixelRatioF();
    pdftoppm(program, path, dpi, prefix);
    std::vector<double> ours;
    std::vector<double> theirs;
    for (int round = 0; round < rounds; ++round) {
        ours.push_back(showpage(L, view, "v:open(path)"));
        theirs.push_back(pdftoppm(program, path, dpi, prefix));
    }

    Heartbeat heartbeat;
    heartbeat.start();
    showpage(L, view, "v:open(path)");
    std::vector<double> stepTimes;
    for (int step = 0; step < steps; ++step)
        stepTimes.push_back(showpage(L, view, "v:scroll(1)"));
    const double stall = heartbeat.stop();
    const int reached = view->currentPage();

    delete view;
    lua_close(L);
    const double first = median(ours);
    const double baseline = median(theirs);
    printf("document: %d pages, first page at %.1f dpi\n", pageCount, dpi);
    printf("first page on screen: %.1f ms (median of %d)\n", first, rounds);
    printf("pdftoppm, same page: %.1f ms (median of %d)\n", baseline, rounds);
    printf("page step to page on screen: %.1f ms median, %.1f ms longest (to page %d)\n",
           median(stepTimes), *std::max_element(stepTimes.begin(), stepTimes.end()), reached + 1);
    printf("longest GUI thread stall: %.1f ms (goal under 50)\n", stall);
    printf("ratio: %.3f\n", first / baseline);
    return 0;
}
