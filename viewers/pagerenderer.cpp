#include "pagerenderer.h"

#include <QFileInfo>

#include <poppler-qt5.h>

#include <cmath>

// Letter, for a page the library cannot read.
static const QSizeF unreadablePageSize(612, 792);

PageRenderer::PageRenderer() = default;

PageRenderer::~PageRenderer() = default;

static QSizeF pagesize(const Poppler::Document &document, int index)
{
    const std::unique_ptr<Poppler::Page> page(document.page(index));
    if (!page)
        return unreadablePageSize;
    const QSizeF size = page->pageSizeF();
    return QSizeF(qBound(1.0, size.width(), PageRenderer::largestSide),
                  qBound(1.0, size.height(), PageRenderer::largestSide));
}

static QString problem(const Poppler::Document *document)
{
    if (!document)
        return "not a PDF document";
    if (document->isLocked())
        return "locked with a password";
    if (document->numPages() < 1)
        return "no pages";
    return QString();
}

static std::unique_ptr<Poppler::Document> load(const QString &path, QString *reason)
{
    if (!QFileInfo(path).isFile()) {
        *reason = "no such file";
        return nullptr;
    }
    std::unique_ptr<Poppler::Document> document(Poppler::Document::load(path));
    *reason = problem(document.get());
    if (!reason->isEmpty())
        return nullptr;
    return document;
}

QVector<QSizeF> PageRenderer::readPageSizes(const QString &path)
{
    QString reason;
    const std::unique_ptr<Poppler::Document> document = load(path, &reason);
    QVector<QSizeF> sizes;
    if (!document)
        return sizes;
    sizes.reserve(document->numPages());
    for (int page = 0; page < document->numPages(); ++page)
        sizes.append(pagesize(*document, page));
    return sizes;
}

void PageRenderer::open(int generation, const QString &path)
{
    m_generation = generation;
    QString reason;
    m_document = load(path, &reason);
    if (!m_document) {
        emit failed(generation, reason);
        return;
    }
    m_document->setRenderHint(Poppler::Document::Antialiasing);
    m_document->setRenderHint(Poppler::Document::TextAntialiasing);
    emit opened(generation);
}

// A picture in a format the window paints without converting it: conversion while painting
// would hold up the window.
static QImage paintable(const QImage &image)
{
    if (image.format() == QImage::Format_RGB32 ||
        image.format() == QImage::Format_ARGB32_Premultiplied)
        return image;
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

static bool shouldAbort(const QVariant &closure)
{
    const auto *renderer = static_cast<const PageRenderer *>(closure.value<void *>());
    return renderer->aborted();
}

bool PageRenderer::aborted() const
{
    return m_ticket < m_abortBelow.load();
}

void PageRenderer::render(int generation, int page, double dpi, int ticket)
{
    m_ticket = ticket;
    if (generation != m_generation || !m_document || aborted())
        return;
    const std::unique_ptr<Poppler::Page> source(m_document->page(page));
    QImage image;
    if (source) {
        const QSizeF size = source->pageSizeF() * (dpi / 72);
        const double pixels = size.width() * size.height();
        const double resolution = pixels > mostPixels ? dpi * std::sqrt(mostPixels / pixels) : dpi;
        image = source->renderToImage(resolution, resolution, -1, -1, -1, -1,
                                      Poppler::Page::Rotate0, nullptr, nullptr, shouldAbort,
                                      QVariant::fromValue(static_cast<void *>(this)));
        if (aborted())
            return;
        image = paintable(image);
    }
    emit rendered(generation, page, dpi, image);
}
