#include "SessionHarness.h"

#include "views/VideoStack.h"

#include <QLabel>
#include <QRegularExpression>
#include <QSpinBox>
#include <QtTest>

// The focus stack of the control window against the test server.
class TestFocusStack : public QObject
{
    Q_OBJECT

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
        h.server->clearLog();
        h.session->focusStackButton->click();
        return QTest::qWaitFor([this] { return !h.session->stackAcquiring; }, 60000) && h.settle();
    }

private slots:
    void init()
    {
        h = SessionHarness();
        QVERIFY(h.start());
        QVERIFY(h.moveTo(QStringLiteral("37.835"), QStringLiteral("25.1625"), QStringLiteral("1000")));
    }

    void cleanup()
    {
        QVERIFY(h.passwordNeverSent());
        h.session.reset();
        h.server.reset();
    }

    void stackThenMoveToAFrame()
    {
        Session* s = h.session.get();
        s->zCoord->setText(QStringLiteral("5"));
        s->zSlider->setValue(2);
        // without a stack the slider leaves the field alone
        QCOMPARE(s->zCoord->text(), QStringLiteral("5"));
        h.server->clearLog();
        s->focusStackButton->click();
        QVERIFY(s->stackAcquiring && h.controlsEnabled(false));
        QVERIFY(s->frameCountSelector->isEnabled());
        QCOMPARE(h.status(), QStringLiteral("Acquiring focus stack..."));
        QVERIFY(QTest::qWaitFor([s] { return !s->stackAcquiring; }, 60000) && h.settle());
        // 15 frames, 130 units apart, centred on z = 10000, each its own picture of the region
        const QList<double> zs = stackMoveZ();
        QCOMPARE(zs.size(), 15);
        for (int k = 0; k < zs.size(); ++k)
            QCOMPARE(zs[k], 8960.0 + 130.0 * k);
        QCOMPARE(h.requests(h.info.requestPrefix + "f=m&b=y&x=378350.000000&y=251625.000000&z=").size(), 15);
        QCOMPARE(h.requests("&inset=1").size(), 15);
        QVERIFY(h.requests("&inset=1").first().contains(h.info.requestPrefix + "f=p&ps=1&x=16&y=30&inset=1"));
        QCOMPARE(s->insetStack->count(), 15);
        QCOMPARE(s->zSlider->maximum(), 14);
        QVERIFY(h.controlsEnabled());
        QVERIFY(h.status().isEmpty());
        // the sharpest frame is shown and its z put in the field
        const int best =
            int(std::max_element(s->stackSharpness.cbegin(), s->stackSharpness.cend()) - s->stackSharpness.cbegin());
        QCOMPARE(s->zSlider->value(), best);
        QCOMPARE(s->insetStack->currentIndex(), best);
        QVERIFY(s->focusMeasureLabel->text().contains(QStringLiteral("Sharpest: frame %1").arg(best + 1)));

        // the slider puts a frame's z into the field, and "Move" goes there
        const int pick = best == 3 ? 4 : 3;
        s->zSlider->setValue(pick);
        const double z = 8960.0 + pick * 130.0;
        QCOMPARE(s->zCoord->text(), QString::asprintf("%.0f", z * 0.1));
        QCOMPARE(s->insetStack->currentIndex(), pick);
        h.server->clearLog();
        s->frameGrabButton->click();
        QVERIFY(h.settle());
        // the fields show millimetres to three places: y = 25.1625 mm goes out as 25.163 mm
        QCOMPARE(h.requests("f=m&x=378350&y=251630&z=" + QString::asprintf("%.0f", z)).size(), 1);
    }

    void stacksEndingEarly_data()
    {
        QTest::addColumn<QString>("startZ");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("frames");
        QTest::addColumn<QString>("message");
        const QString range = QStringLiteral("***Focus stack stopped: the next position lies outside the focus range.");
        const QString silent = QStringLiteral("***Focus stack stopped: the server did not answer.");
        QTest::newRow("below the range") << "50" << QString() << 0 << range;
        // from 29900 the frames 29900 - 8 x 130 upward stay below 30000 for 9 frames
        QTest::newRow("off the top") << "2990" << QString() << 9 << range;
        QTest::newRow("move fails") << "1000"
                                    << "mb:500:1" << 0 << silent;
        QTest::newRow("picture fails") << "1000"
                                       << "inset:500:1" << 2 << silent;
        QTest::newRow("picture unreadable") << "1000"
                                            << "inset:garbage:1" << 2
                                            << "***Focus stack stopped: the server sent a picture that could not be "
                                               "read.";
    }

    void stacksEndingEarly()
    {
        QFETCH(QString, startZ);
        QFETCH(QString, fault);
        QFETCH(int, frames);
        Session* s = h.session.get();
        QVERIFY(h.moveTo(QStringLiteral("37.835"), QStringLiteral("25.1625"), startZ));
        // a picture fault strikes the third picture
        connect(&s->stackImageFetcher, &MyWebJPEG::newImageAvailable, this, [this, s, fault] {
            if (fault.startsWith("inset") && s->insetStack->count() == 2)
                h.server->addFault(fault);
        });
        if (fault.startsWith("mb"))
            QVERIFY(h.server->addFault(fault));
        QVERIFY(runStack());
        QFETCH(QString, message);
        QVERIFY2(h.infoText().endsWith(message), qPrintable(h.infoText().right(100)));
        // the frames taken stay browsable with their own z
        QCOMPARE(s->stackZ.size(), frames);
        QCOMPARE(s->zSlider->maximum(), qMax(0, frames - 1));
        QVERIFY(s->insetStack->count() >= frames);
        QVERIFY(h.controlsEnabled());
        QVERIFY(h.status().isEmpty());
        if (frames == 2) {
            s->zSlider->setValue(0);
            s->zSlider->setValue(1);
            QCOMPARE(s->zCoord->text(), QString::asprintf("%.0f", (10000.0 - 7 * 130.0) * 0.1));
        }
    }

    void smallIntervalStaysAtStart()
    {
        h.session->frameRangeSelector->setValue(10);
        QVERIFY(runStack());
        QCOMPARE(stackMoveZ(), QList<double>(15, 10000.0));
    }
};

QTEST_MAIN(TestFocusStack)
#include "tst_focusstack.moc"
