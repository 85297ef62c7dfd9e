#ifndef PAGERENDERER_H
#define PAGERENDERER_H

#include <QImage>
#include <QObject>
#include <QSizeF>
#include <QVector>

#include <atomic>
#include <memory>

namespace Poppler
{
class Document;
}

// Lives in a worker thread: loads a PDF document and renders its pages on request, so that the
// window never waits for the PDF library, which is used from this thread only. Every request
// and answer carries the generation of the document it belongs to; the viewer counts a new
// generation with each file it opens and drops answers about older ones.
class PageRenderer : public QObject
{
    Q_OBJECT

public:
    PageRenderer();
    ~PageRenderer() override;

    // The page sizes of a file, read on the calling thread; none when it does not open (open
    // tells why).
    static QVector<QSizeF> readPageSizes(const QString &path);

    void open(int generation, const QString &path);
    // Renders at the resolution asked for, or lower for a page that would take more memory
    // than one page may. A render whose ticket falls below the one set by abortBelow stops
    // as soon as the library looks, and reports nothing.
    void render(int generation, int page, double dpi, int ticket = 0);
    // Called from any thread.
    void abortBelow(int ticket) { m_abortBelow.store(ticket); }
    bool aborted() const;

    // Sizes of pages come from the file; beyond the format's own limit they are bounded to it.
    static constexpr double largestSide = 14400;
    static constexpr double mostPixels = 16 * 1024 * 1024;

signals:
    void opened(int generation);
    void failed(int generation, const QString &reason);
    void rendered(int generation, int page, double dpi, const QImage &image);

private:
    std::unique_ptr<Poppler::Document> m_document;
    int m_generation = 0;
    std::atomic<int> m_abortBelow{0};
    int m_ticket = 0;
};

#endif
