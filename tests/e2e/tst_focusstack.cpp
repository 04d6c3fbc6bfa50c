#include "SessionHarness.h"

#include "views/VideoStack.h"

#include <QLabel>
#include <QRegularExpression>
#include <QSpinBox>
#include <QtTest>

class TestFocusStack : public QObject
{
    Q_OBJECT

private:
    SessionHarness h;

    // z of every stack move received, in order.
    QList<double> stackMoveZ() const
    {
        QList<double> zs;
        const QRegularExpression z(QStringLiteral("&z=([-0-9.]+)&auth="));
        for (const QString& target : h.requests(QStringLiteral("f=m&b=y&x=")))
            zs << z.match(target).captured(1).toDouble();
        return zs;
    }

    bool runStack()
    {
        h.session->focusStackButton->click();
        return QTest::qWaitFor([this] { return !h.session->stackAcquiring; }, 60000) && h.settle();
    }

private slots:
    void init()
    {
        h = SessionHarness();
        QVERIFY(h.start());
        QVERIFY(h.moveTo(QStringLiteral("37.835"), QStringLiteral("25.1625"), QStringLiteral("1000")));
        h.server->clearLog();
    }

    void cleanup()
    {
        QVERIFY(h.passwordNeverSent());
        h.session.reset();
        h.server.reset();
    }

    void startValuesStack()
    {
        Session* s = h.session.get();
        s->focusStackButton->click();
        QVERIFY(s->stackAcquiring);
        QVERIFY(h.controlsDisabled());
        QVERIFY(s->frameCountSelector->isEnabled());
        QCOMPARE(h.status(), QStringLiteral("Acquiring focus stack..."));
        QVERIFY(QTest::qWaitFor([s] { return !s->stackAcquiring; }, 60000));
        QVERIFY(h.settle());

        const QStringList moves =
            h.requests(h.info.requestPrefix + QStringLiteral("f=m&b=y&x=378350.000000&y=251625.000000&z="));
        QCOMPARE(moves.size(), 15);
        QVERIFY(moves.first().contains(QStringLiteral("&z=8960.000000&auth=")));
        QVERIFY(moves.last().contains(QStringLiteral("&z=10780.000000&auth=")));
        const QList<double> zs = stackMoveZ();
        for (int k = 0; k < zs.size(); ++k)
            QCOMPARE(zs[k], 8960.0 + 130.0 * k);

        const QStringList pictures = h.requests(QStringLiteral("&inset=1"));
        QCOMPARE(pictures.size(), 15);
        QVERIFY(pictures.first().contains(h.info.requestPrefix + QStringLiteral("f=p&ps=1&x=")));
        QCOMPARE(s->insetStack->count(), 15);
        QCOMPARE(s->stackZ.size(), 15);
        QCOMPARE(s->zSlider->maximum(), 14);
        QVERIFY(h.controlsEnabled());
        QVERIFY(h.status().isEmpty());

        // The slider puts a frame's z into the field and "Move" goes there.
        const int pick = s->zSlider->value() == 3 ? 4 : 3;
        s->zSlider->setValue(pick);
        const double z = 10000.0 + (pick - 8) * 130.0;
        QCOMPARE(s->zCoord->text(), QString::asprintf("%.0f", z * 0.1));
        QCOMPARE(s->insetStack->currentIndex(), pick);
        h.server->clearLog();
        s->frameGrabButton->click();
        QVERIFY(h.settle());
        // the fields show millimetres to three places, so y = 25.1625 mm goes out as 25.163 mm
        QCOMPARE(h.requests(QStringLiteral("f=m&x=378350&y=251630&z=") + QString::asprintf("%.0f", z)).size(), 1);
        SessionHarness::shoot(s, QStringLiteral("session-after-stack"));
    }

    void smallIntervalTakesEveryFrameAtStart()
    {
        h.session->frameRangeSelector->setValue(10);
        QVERIFY(runStack());
        const QList<double> zs = stackMoveZ();
        QCOMPARE(zs.size(), 15);
        for (double z : zs)
            QCOMPARE(z, 10000.0);
    }

    void sliderWithoutStackDoesNothing()
    {
        Session* s = h.session.get();
        s->zCoord->setText(QStringLiteral("5"));
        s->zSlider->setValue(2);
        QCOMPARE(s->zCoord->text(), QStringLiteral("5"));
    }

    void outsideFocusRangeStops()
    {
        Session* s = h.session.get();
        QVERIFY(h.moveTo(QStringLiteral("37.835"), QStringLiteral("25.1625"), QStringLiteral("50")));
        h.server->clearLog();
        s->focusStackButton->click();
        QVERIFY(!s->stackAcquiring);
        QVERIFY(h.requests(QStringLiteral("f=m&b=y")).isEmpty());
        QVERIFY(h.infoText().contains(
            QStringLiteral("***Focus stack stopped: the next position lies outside the focus range.")));
        QVERIFY(h.controlsEnabled());
        QVERIFY(h.status().startsWith(QStringLiteral("Focus stack stopped")));

        // A stack that runs off the top of the range keeps the frames it took.
        QVERIFY(h.moveTo(QStringLiteral("37.835"), QStringLiteral("25.1625"), QStringLiteral("2990")));
        h.server->clearLog();
        QVERIFY(runStack());
        // From 29900 the frames 29900 - 8 x 130 upward stay below 30000 up to 9 frames.
        QCOMPARE(s->stackZ.size(), 9);
        QCOMPARE(s->insetStack->count(), 9);
        QCOMPARE(s->zSlider->maximum(), 8);
        QVERIFY(h.controlsEnabled());
    }

    void failedPictureStops_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("message");
        QTest::newRow("no answer") << QStringLiteral("inset:500:1")
                                   << QStringLiteral("***Focus stack stopped: the server did not answer.");
        QTest::newRow("unreadable") << QStringLiteral("inset:garbage:1")
                                    << QStringLiteral("***Focus stack stopped: the server sent a picture that "
                                                      "could not be read.");
    }

    void failedPictureStops()
    {
        QFETCH(QString, fault);
        QFETCH(QString, message);
        Session* s = h.session.get();
        connect(&s->stackImageFetcher, &MyWebJPEG::newImageAvailable, this, [this, s, fault](QImage&) {
            if (s->insetStack->count() == 2)
                h.server->addFault(fault);
        });
        QVERIFY(runStack());
        QVERIFY(h.infoText().contains(message));
        // an unreadable reply re-sends the previous picture, which the stack
        // keeps but never offers under a z of its own
        QVERIFY(s->insetStack->count() >= 2);
        QCOMPARE(s->stackZ.size(), 2);
        QCOMPARE(s->zSlider->maximum(), 1);
        QVERIFY(h.controlsEnabled());
        QCOMPARE(h.status(), message.mid(3));
        // The frames taken stay browsable with their own z.
        s->zSlider->setValue(0);
        s->zSlider->setValue(1);
        QCOMPARE(s->zCoord->text(), QString::asprintf("%.0f", (10000.0 - 7 * 130.0) * 0.1));
    }

    void failedMoveStops_data()
    {
        QTest::addColumn<bool>("refused");
        QTest::addColumn<QString>("message");
        QTest::newRow("no answer") << false << QStringLiteral("***Focus stack stopped: the server did not answer.");
        QTest::newRow("refused") << true
                                 << QStringLiteral(
                                        "***Focus stack stopped: the server refused the stage move (-BAD_AUTH).");
    }

    void failedMoveStops()
    {
        Session* s = h.session.get();
        QFETCH(bool, refused);
        if (refused)
            s->auth.setKey(QStringLiteral("not the password")); // every token is refused from now on
        else
            QVERIFY(h.server->addFault(QStringLiteral("mb:500:1")));
        QVERIFY(runStack());
        QFETCH(QString, message);
        QVERIFY2(h.infoText().contains(message), qPrintable(h.infoText().right(200)));
        QVERIFY(h.requests(QStringLiteral("&inset=1")).isEmpty());
        QCOMPARE(s->stackZ.size(), 0);
        QVERIFY(h.controlsEnabled());
    }

    void sharpestFrameNearFocalPlane()
    {
        Session* s = h.session.get();
        const double plane = h.server->focalPlaneAt(h.slide(), s->currentCoords.x, s->currentCoords.y);
        // Start at the plane rounded to a micrometre: the stack spans -104 to +78 um.
        QVERIFY(
            h.moveTo(QStringLiteral("37.835"), QStringLiteral("25.1625"), QString::number(qRound(plane / 10.0) + 20)));
        QVERIFY(runStack());
        QCOMPARE(s->stackSharpness.size(), 15);
        const int best =
            int(std::max_element(s->stackSharpness.cbegin(), s->stackSharpness.cend()) - s->stackSharpness.cbegin());
        QCOMPARE(s->zSlider->value(), best);
        QVERIFY2(qAbs(s->stackZ[best] - plane) <= 130.0,
                 qPrintable(QStringLiteral("best %1 at %2, plane %3").arg(best).arg(s->stackZ[best]).arg(plane)));
        QCOMPARE(s->zCoord->text(), QString::asprintf("%.0f", s->stackZ[best] * 0.1));
        QVERIFY(s->focusMeasureLabel->text().contains(QStringLiteral("Sharpest: frame %1").arg(best + 1)));
    }
};

QTEST_MAIN(TestFocusStack)
#include "tst_focusstack.moc"
