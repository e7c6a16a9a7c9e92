// Work held back until the window's first frame: it runs once that frame is
// painted, also when the window is never exposed, and never after the window
// is gone.
#include "ui/shell/AfterFirstPaint.h"

#include <QPointer>
#include <QTest>
#include <QWidget>

namespace {

class CountingWindow : public QWidget
{
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent *) override { ++paints; }
};

} // namespace

class AfterFirstPaintTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void runsOnceTheFirstFrameIsPainted()
    {
        CountingWindow window;
        window.resize(300, 200);
        int paintsWhenRun = -1;
        int runs = 0;
        runAfterFirstPaint(window, [&] {
            paintsWhenRun = window.paints;
            ++runs;
        });
        QCOMPARE(runs, 0);
        window.show();
        QTRY_COMPARE(runs, 1);
        QVERIFY(paintsWhenRun > 0);
        // Later frames do not run it again.
        window.hide();
        window.show();
        window.repaint();
        QCoreApplication::processEvents();
        QCOMPARE(runs, 1);
    }

    void aWindowNeverShownGetsTheWorkAnyway()
    {
        CountingWindow window;
        bool ran = false;
        runAfterFirstPaint(window, [&] { ran = true; });
        QTRY_VERIFY_WITH_TIMEOUT(ran, 20000);
        QCOMPARE(window.paints, 0);
    }

    void workGoesWithTheWindow()
    {
        auto *window = new CountingWindow;
        bool ran = false;
        runAfterFirstPaint(*window, [&] { ran = true; });
        QPointer<QObject> watcher = window->children().value(0);
        QVERIFY(watcher);
        delete window;
        QVERIFY(!watcher);
        QCoreApplication::processEvents();
        QVERIFY(!ran);
    }
};

QTEST_MAIN(AfterFirstPaintTest)
#include "test_after_first_paint.moc"
