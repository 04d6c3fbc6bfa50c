// Navigation at the scale of the live picture against the test server:
// double-click to centre, keyboard steps, the scale bar, the focus curve.
#include "SessionHarness.h"

#include "views/FocusCurve.h"
#include "views/LowResPreview.h"
#include "views/VideoView.h"
#include "views/VideoWindow.h"

#include <QLabel>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QtTest>

#include <cmath>

namespace {

// Where the 32 x 32 patch of `from` at `at` best matches `to`, searched
// within 24 pixels of `near`; each patch less its mean, as lighting is uneven.
QPoint locate(const QImage& from, QPoint at, const QImage& to, QPoint near)
{
    QPoint best;
    double least = -1;
    for (int oy = -24; oy <= 24; ++oy)
        for (int ox = -24; ox <= 24; ++ox) {
            const QPoint c = near + QPoint(ox, oy);
            double sum = 0, squares = 0;
            for (int dy = -16; dy < 16; ++dy)
                for (int dx = -16; dx < 16; ++dx) {
                    const int d = qGreen(from.pixel(at + QPoint(dx, dy))) - qGreen(to.pixel(c + QPoint(dx, dy)));
                    sum += d;
                    squares += d * d;
                }
            const double mismatch = squares - sum * sum / 1024;
            if (least < 0 || mismatch < least) {
                least = mismatch;
                best = c;
            }
        }
    return best;
}

// The longest run of white pixels in the lower-left quarter: the scale bar.
int whiteRun(const QImage& shot)
{
    int longest = 0;
    for (int y = shot.height() / 2; y < shot.height(); ++y)
        for (int x = 0, run = 0; x < shot.width() / 2; ++x) {
            run = (shot.pixel(x, y) & 0xffffff) == 0xffffff ? run + 1 : 0;
            longest = std::max(longest, run);
        }
    return longest;
}

} // namespace

class TestNavigation : public QObject
{
    Q_OBJECT

private:
    SessionHarness h;

    VideoView* view() const { return h.session->videoWindow->imageView; }
    int moveCount() const { return int(h.requests(QStringLiteral("f=m&x=")).size()); }
    QVector3D stage() const { return h.server->stagePosition(h.info.scope.name); }

private slots:
    void init()
    {
        h = SessionHarness();
        QVERIFY(h.start());
        QVERIFY(!view()->displayPicture().isNull());
    }

    void cleanup()
    {
        h.session.reset();
        h.server.reset();
    }

    void doubleClickCentresThePoint()
    {
        // While a move runs the controls are disabled and a double-click does nothing.
        h.session->frameGrabButton->click();
        QTest::mouseDClick(view(), Qt::LeftButton, {}, QPoint(100, 100));
        QVERIFY(h.settle());
        QCOMPARE(moveCount(), 1);

        const QImage before = view()->sourcePicture();
        // Closer to the corner than the sampling region can go.
        const QPoint target(600, 40);
        QTest::mouseDClick(view(), Qt::LeftButton, {}, target);
        // The region goes with the feature to the middle.
        QCOMPARE(view()->regionCentre(), QPoint(320, 240));
        QVERIFY(h.controlsEnabled(false));
        QCOMPARE(h.status(), QStringLiteral("Moving scope..."));
        QVERIFY(h.settle());
        QCOMPARE(h.status(), QStringLiteral("Ready."));

        const QPoint centre(320, 240);
        const QPoint found = locate(before, target, view()->sourcePicture(), centre);
        const double error = std::hypot(found.x() - centre.x(), found.y() - centre.y());
        qInfo("centring error %.2f pixels (%d, %d)", error, found.x() - centre.x(), found.y() - centre.y());
        QVERIFY(error <= 2.0);
    }

    void keysStepTheStage_data()
    {
        // 0 the main window itself, 1 the video view, 2 the z field, 3 the System Info
        // text, 4 the tab bar, 5 the overview, 6 "Move", 7 the view with X typed, not sent
        QTest::addColumn<int>("focus");
        QTest::addColumn<int>("busy"); // 1 a move is under way, 2 a stack a live frame interrupted
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QVector3D>("step"); // stage units
        // Half a field of 640 x 480 pixels at 0.5 um per pixel; a tenth with Shift.
        QTest::newRow("right") << 0 << 0 << int(Qt::Key_Right) << 0 << QVector3D(1600, 0, 0);
        QTest::newRow("left") << 1 << 0 << int(Qt::Key_Left) << 0 << QVector3D(-1600, 0, 0);
        QTest::newRow("up, overview") << 5 << 0 << int(Qt::Key_Up) << 0 << QVector3D(0, -1200, 0);
        QTest::newRow("shift down") << 1 << 0 << int(Qt::Key_Down) << int(Qt::ShiftModifier) << QVector3D(0, 240, 0);
        QTest::newRow("page up") << 0 << 0 << int(Qt::Key_PageUp) << 0 << QVector3D(0, 0, 20);
        QTest::newRow("shift page down") << 1 << 0 << int(Qt::Key_PageDown) << int(Qt::ShiftModifier)
                                         << QVector3D(0, 0, -100);
        QTest::newRow("while moving") << 1 << 1 << int(Qt::Key_Right) << 0 << QVector3D();
        QTest::newRow("during a stack") << 1 << 2 << int(Qt::Key_Right) << 0 << QVector3D();
        QTest::newRow("typing in a field") << 2 << 0 << int(Qt::Key_Up) << 0 << QVector3D();
        QTest::newRow("reading messages") << 3 << 0 << int(Qt::Key_PageDown) << 0 << QVector3D();
        QTest::newRow("tab bar") << 4 << 0 << int(Qt::Key_Right) << 0 << QVector3D();
        QTest::newRow("a button") << 6 << 0 << int(Qt::Key_Down) << 0 << QVector3D();
        QTest::newRow("typed, not sent") << 7 << 0 << int(Qt::Key_Left) << 0 << QVector3D();
    }

    void keysStepTheStage()
    {
        QFETCH(int, focus);
        QFETCH(int, busy);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QVector3D, step);
        Session* s = h.session.get();
        QWidget* target =
            QList<QWidget*>{
                s,     view(), s->zCoord, s->sysInfoBox, s->Stack_Acquisition->tabBar(), s->lowRes, s->frameGrabButton,
                view()}
                .at(focus);
        if (focus == 7) {
            s->xCoord->setText(QStringLiteral("12.5"));
            s->xCoord->setModified(true);
        }
        target->window()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(target->window()));
        target->setFocus();
        const QVector3D before = stage();
        if (busy == 1) {
            s->changeDestination(s->currentCoords); // exactly where it stands
            s->frameGrabButton->click();
        } else if (busy == 2) {
            s->focusStackButton->click();
            QImage frame(640, 480, QImage::Format_RGB32);
            emit s->videoFetcher.newImageAvailable(frame);
            QCOMPARE(std::pair(s->frameGrabButton->isEnabled(), s->stackAcquiring), std::pair(true, true));
        }
        QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCoreApplication::processEvents();
        QVERIFY(h.settle());
        QCOMPARE(moveCount(), busy == 1 || !step.isNull() ? 1 : 0);
        if (busy == 2)
            return; // the stack itself moved z
        if (focus == 7)
            QCOMPARE(s->xCoord->text(), QStringLiteral("12.5"));
        const QVector3D moved = stage() - before;
        QVERIFY2((moved - step).length() <= 1.0f,
                 qPrintable(QStringLiteral("moved %1 %2 %3").arg(moved.x()).arg(moved.y()).arg(moved.z())));
    }

    void scaleBarMatchesItsLabel_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<float>("mpp");
        QTest::newRow("640x480") << 0 << 0.5f;
        QTest::newRow("1280x960") << 3 << 0.5f;
        QTest::newRow("unknown scale") << 0 << 0.0f;
    }

    void scaleBarMatchesItsLabel()
    {
        QFETCH(int, size);
        QFETCH(float, mpp);
        h.session->videoWindow->setMPP(mpp, mpp);
        h.session->videoWindow->vidSizeChanged(size);
        QVERIFY(h.settle());
        const int width = view()->width();
        QCOMPARE(view()->displayPicture().width(), width);
        const int run = whiteRun(view()->grab().toImage());
        const QString label = view()->scaleBar().label;
        if (mpp == 0.0f) {
            QVERIFY(label.isEmpty());
            QVERIFY(run < 20);
            return;
        }
        const double micrometres =
            label.section(QLatin1Char(' '), 0, 0).toDouble() * (label.endsWith(QStringLiteral("mm")) ? 1000 : 1);
        QVERIFY2(std::abs(run * mpp - micrometres) <= mpp, qPrintable(QStringLiteral("%1 px, %2").arg(run).arg(label)));
        QVERIFY2(run > width / 8, qPrintable(QString::number(run)));
        QVERIFY2(run < width / 3, qPrintable(QString::number(run)));
    }

    void focusCurve_data()
    {
        QTest::addColumn<bool>("onTissue");
        QTest::addColumn<int>("interval");
        QTest::addColumn<bool>("clear");
        QTest::newRow("through focus") << true << 200 << true;
        QTest::newRow("within 1 um") << true << 1 << false;
        QTest::newRow("blank glass") << false << 200 << false;
    }

    void focusCurve()
    {
        QFETCH(bool, onTissue);
        QFETCH(int, interval);
        QFETCH(bool, clear);
        Session* s = h.session.get();
        if (!onTissue)
            QVERIFY(h.moveTo(QStringLiteral("8"), QStringLiteral("4"), s->zCoord->text()));
        s->frameRangeSelector->setValue(interval);
        s->focusStackButton->click();
        QVERIFY(QTest::qWaitFor([s] { return !s->stackAcquiring; }, 60000));
        QVERIFY(h.settle());
        const QString label = s->focusMeasureLabel->text();
        QCOMPARE(s->focusCurve->sharpest() >= 0, clear);
        QCOMPARE(label.startsWith(QStringLiteral("Sharpest: frame")), clear);
        QCOMPARE(label == QStringLiteral("No clear focus found"), !clear);
        QCOMPARE(s->focusCurve->marked(), s->zSlider->value());
        s->zSlider->setValue(3);
        QCOMPARE(s->focusCurve->marked(), 3);
    }
};

QTEST_MAIN(TestNavigation)
#include "tst_navigation.moc"
