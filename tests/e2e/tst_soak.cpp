#include "SessionHarness.h"

#include <QFile>
#include <QtTest>

#include <unistd.h>

namespace {

qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    return statm.open(QIODevice::ReadOnly) ? statm.readAll().split(' ').value(1).toLongLong() * sysconf(_SC_PAGESIZE)
                                           : -1;
}

} // namespace

// A long session: many move and frame cycles must neither leak nor keep
// growing the fetchers' buffers.
class TestSoak : public QObject
{
    Q_OBJECT

private slots:
    void moveAndFrameCycles()
    {
        const int asked = qEnvironmentVariableIntValue("TESSAN_SOAK_CYCLES");
        const int cycles = asked > 0 ? asked : 1000;
        const int warmUp = qMin(50, cycles / 4);
        SessionHarness h;
        QVERIFY(h.start());
        Session* s = h.session.get();
        s->countdownTimer.stop();
        qint64 startRss = 0;
        unsigned moveCapacity = 0, frameCapacity = 0;
        // the frame after the final position ends a cycle
        QSignalSpy frames(&s->videoFetcher, &MyWebJPEG::newImageAvailable);
        s->yCoord->setText(QStringLiteral("15.000"));
        s->zCoord->setText(QStringLiteral("1000"));
        for (int i = 0; i < cycles; ++i) {
            s->xCoord->setText((i % 2) ? QStringLiteral("20.000") : QStringLiteral("20.100"));
            frames.clear();
            // the request log kept for the tests would count as growth
            if (i % 100 == 0)
                h.log.clear();
            s->frameGrabButton->click();
            QVERIFY2(frames.wait(10000), qPrintable(QString::number(i)));
            QCOMPARE(h.state(), QStringLiteral("Ready. | on"));
            if (i + 1 == warmUp) {
                startRss = residentBytes();
                moveCapacity = s->moveFetcher.capacity();
                frameCapacity = s->videoFetcher.http().capacity();
            }
        }
        const qint64 endRss = residentBytes();
        qInfo("soak: %d cycles; resident %.1f MB after %d, %.1f MB at the end", cycles, startRss / 1048576.0, warmUp,
              endRss / 1048576.0);
        QCOMPARE(s->moveFetcher.capacity(), moveCapacity);
        QCOMPARE(s->videoFetcher.http().capacity(), frameCapacity);
        // the sanitizer pass (run with ASAN_OPTIONS) holds freed memory back on purpose
        if (!qEnvironmentVariableIsSet("ASAN_OPTIONS"))
            QVERIFY2(endRss - startRss < 4 * 1048576, "resident memory kept growing");
    }
};

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
