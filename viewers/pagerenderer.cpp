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

void PageRenderer::open(int generation, const QString &path)
{
    m_generation = generation;
    m_document.reset();
    if (!QFileInfo(path).isFile()) {
        emit failed(generation, "no such file");
        return;
    }
    m_document.reset(Poppler::Document::load(path));
    const QString reason = problem(m_document.get());
    if (!reason.isEmpty()) {
        m_document.reset();
        emit failed(generation, reason);
        return;
    }
    m_document->setRenderHint(Poppler::Document::Antialiasing);
    m_document->setRenderHint(Poppler::Document::TextAntialiasing);
    QVector<QSizeF> sizes;
    sizes.reserve(m_document->numPages());
    for (int page = 0; page < m_document->numPages(); ++page)
        sizes.append(pagesize(*m_document, page));
    emit opened(generation, sizes);
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

void PageRenderer::render(int generation, int page, double dpi)
{
    if (generation != m_generation || !m_document)
        return;
    const std::unique_ptr<Poppler::Page> source(m_document->page(page));
    QImage image;
    if (source) {
        const QSizeF size = source->pageSizeF() * (dpi / 72);
        const double pixels = size.width() * size.height();
        const double resolution = pixels > mostPixels ? dpi * std::sqrt(mostPixels / pixels) : dpi;
        image = paintable(source->renderToImage(resolution, resolution));
    }
    emit rendered(generation, page, dpi, image);
}
