#include "tabs/widgetanimator.h"

#include <QWidget>
#include <QtTest>

class TestWidgetAnimator : public QObject
{
    Q_OBJECT

private slots:
    void slidesPositionAndKeepsSize()
    {
        QWidget parent;
        parent.resize(800, 600);
        auto *child = new QWidget(&parent);
        child->setGeometry(0, 0, 10, 10);
        parent.show();
        WidgetAnimator animator;
        QElapsedTimer clock;
        clock.start();
        animator.animate(child, QRect(0, 0, 100, 50), QRect(200, 0, 300, 300), true);
        QCOMPARE(child->geometry(), QRect(0, 0, 100, 50));
        QVERIFY(animator.isAnimating(child));
        QTest::qWait(250 - int(clock.elapsed()));
        // OutQuad at half time has covered three quarters of the way.
        QVERIFY2(child->x() > 120 && child->x() < 190, qPrintable(QString::number(child->x())));
        QTRY_VERIFY_WITH_TIMEOUT(!animator.isAnimating(child), 2000);
        QVERIFY(clock.elapsed() >= 450);
        QCOMPARE(child->geometry(), QRect(200, 0, 100, 50));
    }

    // The address of a widget that died while sliding may come back as a new widget's.
    void widgetDyingMidSlideIsNoLongerAnimating()
    {
        QWidget parent;
        parent.resize(800, 600);
        auto *child = new QWidget(&parent);
        WidgetAnimator animator;
        animator.animate(child, QRect(0, 0, 100, 50), QRect(200, 0, 100, 50), true);
        QVERIFY(animator.isAnimating(child));
        delete child;
        QVERIFY(!animator.isAnimating(child));
    }

    void withoutAnimationItJumps()
    {
        QWidget parent;
        auto *child = new QWidget(&parent);
        child->setGeometry(5, 5, 20, 20);
        WidgetAnimator animator;
        animator.animate(child, QRect(0, 0, 30, 40), QRect(70, 80, 10, 10), false);
        QTRY_VERIFY(!animator.isAnimating(child));
        QCOMPARE(child->geometry(), QRect(70, 80, 30, 40));
    }

    void invalidTargetHidesAboveLeft()
    {
        QWidget parent;
        auto *child = new QWidget(&parent);
        child->setGeometry(5, 5, 20, 30);
        WidgetAnimator animator;
        animator.animate(child, QRect(0, 0, 40, 50), QRect(), true);
        QTRY_VERIFY(!animator.isAnimating(child));
        QCOMPARE(child->pos(), QPoint(-520, -530));
        QCOMPARE(child->size(), QSize(40, 50));
    }

    void overlappingAnimationsEndTogether()
    {
        QWidget parent;
        parent.resize(800, 600);
        auto *child = new QWidget(&parent);
        child->setGeometry(0, 0, 10, 10);
        parent.show();
        WidgetAnimator animator;
        animator.animate(child, QRect(0, 0, 10, 10), QRect(400, 0, 10, 10), true);
        QTest::qWait(200);
        animator.animate(child, QRect(0, 300, 10, 10), QRect(0, 500, 10, 10), true);
        QElapsedTimer clock;
        clock.start();
        QTRY_VERIFY_WITH_TIMEOUT(!animator.isAnimating(child), 2000);
        QVERIFY(clock.elapsed() < 450);
        // The first slide ran to its end, and stopped the second one on its way.
        QCOMPARE(child->pos(), QPoint(400, 0));
        animator.abort(child);
        animator.abort(nullptr);
    }
};

QTEST_MAIN(TestWidgetAnimator)
#include "tst_widgetanimator.moc"
