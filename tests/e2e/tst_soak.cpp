#include "SessionHarness.h"

#include <QFile>
#include <QtTest>

#include <unistd.h>

#ifndef TESSAN_SOAK_DEFAULT_CYCLES
#define TESSAN_SOAK_DEFAULT_CYCLES 500
#endif

// A long session: many move and frame cycles must neither leak nor keep
// growing the fetchers' buffers.
class TestSoak : public QObject
{
    Q_OBJECT

    static qint64 residentBytes()
    {
        QFile statm(QStringLiteral("/proc/self/statm"));
        return statm.open(QIODevice::ReadOnly)
                   ? statm.readAll().split(' ').value(1).toLongLong() * sysconf(_SC_PAGESIZE)
                   : -1;
    }

private slots:
    void moveAndFrameCycles()
    {
        const int cycles = qEnvironmentVariableIntValue("TESSAN_SOAK_CYCLES") > 0
                               ? qEnvironmentVariableIntValue("TESSAN_SOAK_CYCLES")
                               : TESSAN_SOAK_DEFAULT_CYCLES;
        const int warmUp = qMin(50, cycles / 4);
        SessionHarness h;
        QVERIFY(h.start());
        Session* s = h.session.get();
        s->clock.countdownTimer.stop();
        qint64 startRss = 0;
        unsigned moveCapacity = 0, frameCapacity = 0;
        for (int i = 0; i < cycles; ++i) {
            // the request log kept for the tests would count as growth
            h.log.clear();
            QVERIFY2(h.moveTo(i % 2 ? "20.000" : "20.100", "15.000", "1000"), qPrintable(QString::number(i)));
            if (i + 1 == warmUp) {
                startRss = residentBytes();
                moveCapacity = s->stage.positionFetcher().capacity();
                frameCapacity = s->videoFetcher.http().capacity();
            }
        }
        const qint64 endRss = residentBytes();
        qInfo("soak: %d cycles; resident %.1f MB after %d, %.1f MB at the end", cycles, startRss / 1048576.0, warmUp,
              endRss / 1048576.0);
        QCOMPARE(s->stage.positionFetcher().capacity(), moveCapacity);
        QCOMPARE(s->videoFetcher.http().capacity(), frameCapacity);
        // the sanitizer pass (run with ASAN_OPTIONS) holds freed memory back on purpose
        if (!qEnvironmentVariableIsSet("ASAN_OPTIONS"))
            QVERIFY2(endRss - startRss < 4 * 1048576, "resident memory kept growing");
    }
};

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
