#include "testdocument.h"
#include "viewers/pagerenderer.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

// The renderer used directly, in the test's own thread: its signals arrive at once.
class TestPageRenderer : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_path;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_path = m_dir.filePath("three.pdf");
        QVERIFY(writeTestDocument(m_path, 3, {200, 300}));
    }

    void opensWithThePageSizes()
    {
        PageRenderer renderer;
        QSignalSpy opened(&renderer, &PageRenderer::opened);
        renderer.open(7, m_path);
        QCOMPARE(opened.count(), 1);
        QCOMPARE(opened.at(0).at(0).toInt(), 7);
        QCOMPARE(PageRenderer::readPageSizes(m_path), QVector<QSizeF>(3, QSizeF(200, 300)));
    }

    void rendersAtTheResolutionAskedFor()
    {
        PageRenderer renderer;
        QSignalSpy rendered(&renderer, &PageRenderer::rendered);
        renderer.open(1, m_path);
        renderer.render(1, 2, 144);
        QCOMPARE(rendered.count(), 1);
        QCOMPARE(rendered.at(0).at(1).toInt(), 2);
        QCOMPARE(rendered.at(0).at(2).toDouble(), 144.0);
        const auto image = rendered.at(0).at(3).value<QImage>();
        QCOMPARE(image.size(), QSize(400, 600));
        QVERIFY(nearColor(image.pixelColor(200, 20), testPageColor(2)));
    }

    void hugeResolutionsAreRenderedSmaller()
    {
        PageRenderer renderer;
        QSignalSpy rendered(&renderer, &PageRenderer::rendered);
        renderer.open(1, m_path);
        renderer.render(1, 0, 7200);
        QCOMPARE(rendered.count(), 1);
        QCOMPARE(rendered.at(0).at(2).toDouble(), 7200.0);
        const auto image = rendered.at(0).at(3).value<QImage>();
        QVERIFY(!image.isNull());
        QVERIFY(double(image.width()) * image.height() <= PageRenderer::mostPixels * 1.01);
        QVERIFY(std::abs(image.width() * 3 - image.height() * 2) <= 3);
    }

    void requestsForAnotherDocumentAreDropped()
    {
        PageRenderer renderer;
        QSignalSpy rendered(&renderer, &PageRenderer::rendered);
        QSignalSpy failed(&renderer, &PageRenderer::failed);
        renderer.open(1, m_path);
        renderer.render(0, 0, 72);
        QCOMPARE(rendered.count(), 0);
        renderer.open(2, m_dir.filePath("absent.pdf"));
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.at(0).at(0).toInt(), 2);
        QCOMPARE(failed.at(0).at(1).toString(), QString("no such file"));
        renderer.render(2, 0, 72);
        renderer.render(1, 0, 72);
        QCOMPARE(rendered.count(), 0);
    }
};

QTEST_MAIN(TestPageRenderer)
#include "tst_pagerenderer.moc"
