// A saved mosaic as a map to steer by: a bookmark and a double-click in the
// viewer move the stage of the open session, also one that opened after the
// viewer, and nothing once it has closed.
#include "SessionHarness.h"

#include "imaging/PyramidWriter.h"
#include "views/TiledView.h"
#include "views/ViewerMarks.h"
#include "views/ViewerWindow.h"
#include "views/marks/AnnotationStore.h"

#include <QLabel>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

class TestViewerStage : public QObject
{
    Q_OBJECT

private slots:
    // The recent-files list goes to a test folder, not the user's settings.
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void marksOnTheMosaicMoveTheStage_data()
    {
        QTest::addColumn<bool>("viewerFirst"); // opened before the session, as by `tessan FILE`
        QTest::newRow("opened from the session") << false;
        QTest::newRow("opened before the session") << true;
    }

    void marksOnTheMosaicMoveTheStage()
    {
        QFETCH(bool, viewerFirst);
        SessionHarness h;
        QVERIFY(viewerFirst || h.start());
        // A mosaic whose top-left pixel lay at stage (37.5 mm, 25 mm), 0.5 µm per pixel.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("scan.ome.tif"));
        OmeImage meta;
        meta.physicalSizeXUm = meta.physicalSizeYUm = 0.5;
        OmePlane plane;
        plane.hasPosition = true;
        plane.xUm = 37500;
        plane.yUm = 25000;
        meta.planes = {plane};
        const cv::Mat grey(1200, 1600, CV_8UC3, cv::Scalar(90, 120, 150));
        QString error;
        QVERIFY2(PyramidWriter().write(
                     path, QSize(1600, 1200), meta,
                     [&](int y, int rows, cv::Mat* out, QString*) {
                         *out = grey.rowRange(y, y + rows);
                         return true;
                     },
                     &error),
                 qPrintable(error));
        ViewerWindow* viewer = viewerFirst ? ViewerWindow::open(path, &error) : h.session->openInViewer(path);
        QVERIFY(viewer);
        QVERIFY(!viewerFirst || h.start());
        QCOMPARE(viewer->linkLabel->text(), QStringLiteral("Stage: linked to the session"));
        TiledView* view = viewer->view;

        // A bookmark of the middle of the view at pixel (200, 100): 37.5 mm + 200 × 0.5 µm, 25 mm + 100 × 0.5 µm.
        view->setZoom(1.0, QPointF(200 - view->width() / 2, 100 - view->height() / 2));
        const int id = viewer->marks->addBookmark();
        const QString bookmark = QStringLiteral("f=m&x=376000&y=250500&");
        // While the stage moves, nothing is sent and the session says why.
        h.session->frameGrabButton->click();
        viewer->goToMark(id);
        QVERIFY(h.status().contains(QStringLiteral("busy")));
        QVERIFY(h.settle());
        QCOMPARE(h.requests(bookmark).size(), 0);
        viewer->goToMark(id);
        QVERIFY(h.settle());
        QCOMPARE(h.requests(bookmark).size(), 1);

        // A double-click at pixel (400, 300): 37.7 mm, 25.15 mm.
        QTest::mouseDClick(view, Qt::LeftButton, {}, view->viewPoint(QPointF(400.25, 300.25)).toPoint());
        QVERIFY(h.settle());
        QCOMPARE(h.requests(QStringLiteral("f=m&x=377000&y=251500&")).size(), 1);

        // Once the session is closed, the viewer says so instead of sending anything.
        h.session->close();
        QTest::mouseDClick(view, Qt::LeftButton, {}, view->viewPoint(QPointF(400.25, 300.25)).toPoint());
        QVERIFY(viewer->statusBar()->currentMessage().startsWith(QStringLiteral("No session is open")));
        QCOMPARE(viewer->linkLabel->text(), QStringLiteral("Stage: no session"));
        QCOMPARE(h.requests(QStringLiteral("f=m&x=377000&y=251500&")).size(), 1);
        delete viewer;
    }
};

QTEST_MAIN(TestViewerStage)
#include "tst_viewerstage.moc"
