#include "session/JobReply.h"
#include "session/PositionReport.h"
#include "session/SystemInfoReply.h"
#include "session/TimeReply.h"
#include "setup/TicketReply.h"
#include "views/Calibration.h"
#include "views/SlideMarks.h"

#include <QtTest>

#include <clocale>

Q_DECLARE_METATYPE(PositionReport::Kind)

class TestSessionReplies : public QObject
{
    Q_OBJECT

private slots:
    // The server writes C numbers; a German desktop hands the C library a
    // decimal comma. Every reader must read the same under both.
    void readersIgnoreTheDesktopLocale_data()
    {
        QTest::addColumn<QByteArray>("reader");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("read");
        QTest::newRow("position") << QByteArray("position") << QByteArray("+378350.500000 251625.250000 15000.0\r\n")
                                  << QStringLiteral("378350.5 251625.25 15000");
        QTest::newRow("system information")
            << QByteArray("sysinfo") << QByteArray("0.25 0.5\r\nLamp\r\nok") << QStringLiteral("0.25 0.5 Lamp\nok");
        QTest::newRow("fiducials") << QByteArray("fiducials")
                                   << QByteArray("100\n200\n2900\n250\n50\n1900\n2850\n1950\n75.5\n50.25\n")
                                   << QStringLiteral("75.5 50.25");
        QTest::newRow("slide marks") << QByteArray("marks") << QByteArray("a 10.5 20.25\r\nb 1.5 2.75")
                                     << QStringLiteral("10.5 20.25 1.5 2.75");
        QTest::newRow("time") << QByteArray("time") << QByteArray("95\r\n") << QStringLiteral("95");
        QTest::newRow("reservation word")
            << QByteArray("word") << QByteArray("+NOW\xa0x") << QStringLiteral("+NOW\u00a0x");
    }

    void readersIgnoreTheDesktopLocale()
    {
        QFETCH(QByteArray, reader);
        QFETCH(QByteArray, reply);
        const QByteArray previous = std::setlocale(LC_ALL, nullptr);
        if (!std::setlocale(LC_ALL, "de_DE.UTF-8") && !std::setlocale(LC_ALL, "de_DE.ISO-8859-1"))
            QSKIP("no decimal-comma locale installed");
        const char* data = reply.constData();
        const int n = int(reply.size());
        QStringList got;
        const auto num = [](double v) { return QString::number(v, 'g', 9); };
        if (reader == "position") {
            CoordinateTriple c;
            PositionReport::read(data, n, c);
            got << num(c.x) << num(c.y) << num(c.z);
        } else if (reader == "sysinfo") {
            const SystemInfoReply r = SystemInfoReply::read(data, n, 0, 0);
            got << num(r.mppX) << num(r.mppY) << r.rest;
        } else if (reader == "fiducials") {
            Calibration calibration;
            calibration.load(data, n);
            got << num(calibration.slideWidthMm) << num(calibration.slideHeightMm);
        } else if (reader == "marks") {
            for (const CoordinateTriple& c : SlideMarks::read(data, n))
                got << num(c.x) << num(c.y);
        } else if (reader == "time") {
            int seconds = 0;
            TimeReply::read(data, n, seconds);
            got << num(seconds);
        } else {
            got << QString::fromLatin1(TicketReply::firstWord(data, n));
        }
        std::setlocale(LC_ALL, previous.constData());
        QFETCH(QString, read);
        QCOMPARE(got.join(QLatin1Char(' ')), read);
    }

    void position_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("length");
        QTest::addColumn<PositionReport::Kind>("kind");
        QTest::addColumn<float>("x");
        QTest::addColumn<float>("y");
        QTest::addColumn<float>("z");
        using K = PositionReport::Kind;
        // Starting coordinates are 1, 2, 3: unread numbers keep them.
        QTest::newRow("final") << QByteArray("+15000 22500 1000") << -1 << K::Final << 15000.f << 22500.f << 1000.f;
        QTest::newRow("moving") << QByteArray("* 10.5 -20 7\n") << -1 << K::Moving << 10.5f << -20.f << 7.f;
        QTest::newRow("partial") << QByteArray("+400 oops") << -1 << K::Final << 400.f << 2.f << 3.f;
        QTest::newRow("status only") << QByteArray("+") << -1 << K::Final << 1.f << 2.f << 3.f;
        QTest::newRow("minus") << QByteArray("-15000 22500 1000") << -1 << K::Invalid << 1.f << 2.f << 3.f;
        QTest::newRow("empty") << QByteArray("") << -1 << K::Invalid << 1.f << 2.f << 3.f;
        // Only the received bytes count, whatever follows them in memory.
        QTest::newRow("bounded") << QByteArray("+5 6 789") << 6 << K::Final << 5.f << 6.f << 7.f;
        QTest::newRow("nul inside") << QByteArray("+5 6\0 9", 7) << -1 << K::Final << 5.f << 6.f << 3.f;
    }

    void position()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, length);
        QFETCH(PositionReport::Kind, kind);
        CoordinateTriple c;
        c.x = 1;
        c.y = 2;
        c.z = 3;
        QCOMPARE(PositionReport::read(reply.constData(), length < 0 ? int(reply.size()) : length, c), kind);
        QFETCH(float, x);
        QFETCH(float, y);
        QFETCH(float, z);
        QCOMPARE(c.x, x);
        QCOMPARE(c.y, y);
        QCOMPARE(c.z, z);
    }

    void systemInfo_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<float>("mppX");
        QTest::addColumn<float>("mppY");
        QTest::addColumn<QString>("rest");
        QTest::newRow("normal") << QByteArray("0.5 0.5\nScope A\nLamp ok\n") << 0.5f << 0.5f
                                << QStringLiteral("Scope A\nLamp ok\n");
        QTest::newRow("no line break") << QByteArray("0.25 0.75") << 0.25f << 0.75f << QString();
        QTest::newRow("unreadable") << QByteArray("n/a\n<b>bold</b>") << 9.f << 8.f << QStringLiteral("<b>bold</b>");
        QTest::newRow("one number") << QByteArray("1.5\nx") << 1.5f << 8.f << QStringLiteral("x");
        QTest::newRow("nul dropped") << QByteArray("1 2\na\0b", 7) << 1.f << 2.f << QStringLiteral("ab");
    }

    void systemInfo()
    {
        QFETCH(QByteArray, reply);
        const SystemInfoReply r = SystemInfoReply::read(reply.constData(), int(reply.size()), 9.f, 8.f);
        QTEST(r.mppX, "mppX");
        QTEST(r.mppY, "mppY");
        QTEST(r.rest, "rest");
    }

    void systemInfoBounded()
    {
        // A line break after the received bytes is not part of the reply.
        const char buffer[] = "0.5 0.5\nhidden";
        const SystemInfoReply r = SystemInfoReply::read(buffer, 7, 0.f, 0.f);
        QCOMPARE(r.mppX, 0.5f);
        QVERIFY(r.rest.isEmpty());
    }

    void time_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("seconds");
        QTest::newRow("plain") << QByteArray("95") << true << 95;
        QTest::newRow("line break") << QByteArray("1800\n") << true << 1800;
        QTest::newRow("zero") << QByteArray("0") << true << 0;
        QTest::newRow("negative is over") << QByteArray("-4") << true << 0;
        QTest::newRow("text") << QByteArray("soon") << false << 77;
        QTest::newRow("empty") << QByteArray() << false << 77;
    }

    void time()
    {
        QFETCH(QByteArray, reply);
        int seconds = 77;
        QTEST(TimeReply::read(reply.constData(), int(reply.size()), seconds), "ok");
        QTEST(seconds, "seconds");
    }

    void job_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("text");
        QTest::newRow("queued") << QByteArray("+ job 12 queued\n") << true << QStringLiteral("job 12 queued");
        QTest::newRow("refused") << QByteArray("-BAD_AUTH\n") << false << QStringLiteral("BAD_AUTH");
        QTest::newRow("garbage") << QByteArray("?x") << false
                                 << QStringLiteral("the server sent a reply that could not be read.");
        QTest::newRow("empty") << QByteArray() << false << QStringLiteral("the server sent an empty reply.");
    }

    void job()
    {
        QFETCH(QByteArray, reply);
        const JobReply r = JobReply::read(reply.constData(), int(reply.size()));
        QTEST(r.accepted, "accepted");
        QTEST(r.text, "text");
    }
};

QTEST_MAIN(TestSessionReplies)
#include "tst_sessionreplies.moc"
