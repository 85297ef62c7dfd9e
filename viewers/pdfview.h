#ifndef PDFVIEW_H
#define PDFVIEW_H

#include <lua.hpp>

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QHash>
#include <QImage>
#include <QThread>
#include <QTimer>
#include <QVector>

class PageRenderer;

// A PDF document shown as a column of pages in a scrolling view, zoomed to fit the width of the
// page at the top until told otherwise. The page sizes are read when the file opens; a worker
// thread renders the pages, one at a time, the most wanted first, and gives up on a page that is
// no longer wanted, so that a large file never holds up the window. A file changed on disk is
// opened again at the same place.
class PdfView : public QAbstractScrollArea
{
    Q_OBJECT

public:
    // A view that survives a change of zoom: the page whose band (the gap above it, then the
    // page) holds the top edge of the view; the horizontal scroll and the distance from the top
    // of that band to the top of the view, both in pixels at zoom; the zoom in pixels per point;
    // and whether the view follows the width. An empty view's position is all zeros; a page
    // turned to the top has the offsets 0.
    struct Position {
        int page = 0;
        int x = 0;
        int y = 0;
        double zoom = 0;
        bool fitWidth = false;
    };

    static constexpr double minZoom = 0.1;
    static constexpr double maxZoom = 4.0;
    static constexpr int gap = 8;                // pixels around and between the pages
    static constexpr int doubleTapDistance = 48; // pixels between the two taps at most
    static constexpr int doubleTapMs = 400;

    explicit PdfView(QWidget *parent = nullptr);
    ~PdfView() override;

    // Replaces the document; when it returns, the pages and their sizes are known. A file that
    // does not open leaves the view empty and is logged.
    void open(const QString &path);
    int pageCount() const { return m_sizes.size(); }
    int currentPage() const;
    // Brings the next (step > 0) or previous page to the top, when there is one.
    void turnPage(int step);
    Position position() const;
    // Zoom 0 (or fitWidth) fits the width; the offsets are scaled from the position's zoom to
    // the new one, and the page is kept within the document.
    void setPosition(const Position &position);
    double zoom() const { return m_zoom; }
    // Where a page lies in the viewport's coordinates.
    QRect pageRect(int page) const;
    // Whether the page's picture at the current zoom has come from the worker.
    bool hasPage(int page) const;

signals:
    void opened(int pageCount);
    void openFailed(const QString &path);
    void pageRendered(int page);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    bool viewportEvent(QEvent *event) override;

private:
    struct Picture {
        QImage image;
        double dpi;
    };

    void zoomAround(const QPoint &at, double factor);
    void noteTap(const QPointF &at);
    void onOpened(int generation);
    void reload();
    void onFailed(int generation, const QString &reason);
    void onRendered(int generation, int page, double resolution, const QImage &image);
    double fitZoom(int page) const;
    double boundedZoom(double zoom) const;
    double dpi() const;
    QSize pixelSize(int page) const;
    void layoutPages();
    int pageAt(int y) const;
    int lastVisiblePage() const;
    int wantedPage() const;
    bool nearView(int page) const;
    void dropFarPictures();
    void refresh();

    QThread *m_thread;
    PageRenderer *m_renderer;
    int m_generation = 0;
    int m_ticket = 0; // of the last render asked for
    QString m_path;
    QFileSystemWatcher m_watcher;
    QTimer m_reloadTimer;     // lets a file being written settle
    QVector<QSizeF> m_sizes;  // points
    QVector<int> m_tops;      // pixels at zoom, from the top of the document
    double m_totalHeight = 0; // points, all pages together
    int m_documentWidth = 0;
    int m_documentHeight = 0;
    double m_zoom = 1.0;
    bool m_fitWidth = true;
    QHash<int, Picture> m_pictures;
    int m_inFlight = -1; // the page the worker is rendering for this view
    QElapsedTimer m_lastTap;
    QPointF m_lastTapAt;
};

// C linkage: the host looks the opener up by name in the module's shared object.
extern "C" int luaopen_pdf2_core(lua_State *L);

#endif
