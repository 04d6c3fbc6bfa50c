#include "acquire/Auth.h"
#include "acquire/JobGrid.h"
#include "acquire/JobReply.h"
#include "acquire/PositionReport.h"
#include "acquire/ScopeListParser.h"
#include "acquire/SystemInfoReply.h"
#include "acquire/TicketReply.h"
#include "acquire/TimeReply.h"
#include "net/MyHTTP.h"
#include "net/OrvexUrl.h"
#include "net/ReplyScan.h"
#include "setup/ServerText.h"
#include "views/Calibration.h"
#include "views/SelectionGrid.h"
#include "views/SlideMarks.h"

#include <QTcpServer>
#include <QtTest>

#include <clocale>
#include <cmath>
#include <vector>

namespace {

// The reply's bytes in a block of exactly their length, without terminator,
// so a read past the length shows under the address sanitizer.
struct Received : std::vector<char>
{
    Received(const QByteArray& r, int length = -1)
        : std::vector<char>(r.cbegin(), r.cbegin() + (length < 0 ? r.size() : length))
    {
    }
    int size() const { return int(std::vector<char>::size()); }
};

CoordinateTriple stage(float x, float y, float z = 0)
{
    CoordinateTriple c;
    c.x = x;
    c.y = y;
    c.z = z;
    return c;
}

const QByteArray rotated("100\n200\n2900\n250\n50\n1900\n2850\n1950\n75.67\n50.325\n");

} // namespace

// The readers of every server reply, the token arithmetic, and the mapping of
// stage units to the pixels of the overview, the preview and the job grid.
class TestReplies : public QObject
{
    Q_OBJECT

private slots:
    // Every table below also runs on a decimal-comma desktop: Qt hands the
    // desktop's locale to the C library, the server writes C numbers.
    void initTestCase()
    {
        if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
            qWarning("de_DE.UTF-8 is not installed: the readers run under the \"C\" locale only");
    }

    // Without the "C" locale nothing is read, never a number under the desktop's locale.
    void withoutCLocale()
    {
        float f = 7;
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("locale"));
        QCOMPARE(ReplyScan::scanIn(locale_t(nullptr), "0.5", "%f", &f), EOF);
        QCOMPARE(f, 7.0f);
    }

    void hexNumber_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("index");
        QTest::addColumn<uint>("expected");
        QTest::newRow("scheduling") << QByteArray("+OK 1a2b3c4d") << -1 << 4 << 0x1a2b3c4du;
        QTest::newRow("ticket at the index") << QByteArray("+T5ab12") << -1 << 3 << 0xab12u;
        QTest::newRow("white space skipped") << QByteArray("+T \n\t ff") << -1 << 3 << 0xffu;
        QTest::newRow("no digits") << QByteArray("+OK zz") << -1 << 4 << 0u;
        QTest::newRow("shorter than index") << QByteArray("+OK") << -1 << 4 << 0u;
        // hex digits only: no C prefix, no sign, no saturation
        QTest::newRow("C prefix") << QByteArray("+T 0x1f") << -1 << 3 << 0u;
        QTest::newRow("minus sign") << QByteArray("+OK -1") << -1 << 4 << 0u;
        QTest::newRow("beyond 64 bits") << QByteArray("+OK 123456789abcdef0123") << -1 << 4 << 0xcdef0123u;
    }

    void hexNumber()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, length);
        QFETCH(int, index);
        const Received r(reply, length);
        QTEST(TicketReply::hexAt(r.data(), r.size(), index), "expected");
    }

    void ticketWords_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QByteArray>("word");
        QTest::addColumn<int>("ticket");
        using T = TicketReply::Ticket;
        QTest::newRow("now") << QByteArray("+NOW scheduled\n") << QByteArray("+NOW") << int(T::Granted);
        QTest::newRow("empty") << QByteArray() << QByteArray() << int(T::Other);
        QTest::newRow("unscheduled") << QByteArray("-UNSCHEDULED") << QByteArray("-UNSCHEDULED") << int(T::Unscheduled);
        QTest::newRow("no authorization")
            << QByteArray("-NO_AUTHORIZATION") << QByteArray("-NO_AUTHORIZATION") << int(T::NoAuthorization);
        QTest::newRow("granted") << QByteArray("+T 5") << QByteArray("+T") << int(T::Granted);
    }

    void ticketWords()
    {
        QFETCH(QByteArray, reply);
        const Received r(reply);
        QTEST(TicketReply::firstWord(r.data(), r.size()), "word");
        QTEST(int(TicketReply::classifyTicket(r.data(), r.size())), "ticket");
    }

    // Worked out by hand: key character i rotates byte i % 4 left by its code % 8
    // (a signed char: codes from 0x80 on rotate nothing); unscramble undoes it.
    void tokens_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<uint>("value");
        QTest::addColumn<uint>("scrambled");
        QTest::newRow("one byte each") << "ABCD" << 0x01010101u << 0x10080402u;
        QTest::newRow("fifth wraps to the first byte") << "ABCDE" << 0x01010101u << 0x10080440u;
        QTest::newRow("bits leave at the top") << "GG" << 0xc3c3u << 0xe1e1u;
        QTest::newRow("beyond ASCII rotates nothing") << QStringLiteral("\u00e91") << 0x8181u << 0x0381u;
        QTest::newRow("empty key") << "" << 0xdeadbeefu << 0xdeadbeefu;
    }

    void tokens()
    {
        QFETCH(QString, key);
        QFETCH(uint, value);
        QFETCH(uint, scrambled);
        Auth auth;
        auth.setKey(key);
        QCOMPARE(auth.scramble(value), scrambled);
        QCOMPARE(auth.unscramble(scrambled), value);
        auth.setChallenge(int(scrambled));
        QCOMPARE(auth.currentChallenge(), value);
        // (r >> 8) * (r & 0xff) in the high half, r in the low half, xor the challenge, scrambled
        if (key == QLatin1String("ABCD"))
            QCOMPARE(auth.makeToken(0x1234), QStringLiteral("204d4c6a"));
        if (key.isEmpty())
            QCOMPARE(auth.makeToken(32767) + ' ' + auth.makeToken(0x1234), QStringLiteral("a02cc110 dd05acdb"));
    }

    void position_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QVector3D>("xyz");
        using K = PositionReport::Kind;
        // unread numbers keep the starting 1, 2, 3
        QTest::newRow("final") << QByteArray("+15000 22500 1000") << -1 << int(K::Final)
                               << QVector3D(15000, 22500, 1000);
        QTest::newRow("decimals, CRLF") << QByteArray("*378350.500000 251625.250000 15000.0\r\n") << -1
                                        << int(K::Moving) << QVector3D(378350.5f, 251625.25f, 15000);
        QTest::newRow("minus") << QByteArray("-15000 22500 1000") << -1 << int(K::Invalid) << QVector3D(1, 2, 3);
        QTest::newRow("empty") << QByteArray("") << -1 << int(K::Invalid) << QVector3D(1, 2, 3);
        QTest::newRow("bounded") << QByteArray("+5 6 789") << 6 << int(K::Final) << QVector3D(5, 6, 7);
        QTest::newRow("not a number") << QByteArray("+nan 6 7") << -1 << int(K::Invalid) << QVector3D(1, 2, 3);
        QTest::newRow("beyond float") << QByteArray("*5 1e39 7") << -1 << int(K::Invalid) << QVector3D(1, 2, 3);
        QTest::newRow("nul inside") << QByteArray("+5 6\0 9", 7) << -1 << int(K::Final) << QVector3D(5, 6, 3);
    }

    void position()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, length);
        QFETCH(QVector3D, xyz);
        CoordinateTriple c;
        c.x = 1;
        c.y = 2;
        c.z = 3;
        const Received r(reply, length);
        QTEST(int(PositionReport::read(r.data(), r.size(), c)), "kind");
        QCOMPARE(QVector3D(c.x, c.y, c.z), xyz);
    }

    void systemInfo_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("length");
        QTest::addColumn<QPointF>("mpp");
        QTest::addColumn<QString>("rest");
        QTest::newRow("normal") << QByteArray("0.5 0.5\nScope A\nLamp ok\n") << -1 << QPointF(0.5, 0.5)
                                << QStringLiteral("Scope A\nLamp ok\n");
        QTest::newRow("CRLF") << QByteArray("0.25 1.5\r\nLamp\r\nok") << -1 << QPointF(0.25, 1.5)
                              << QStringLiteral("Lamp\nok");
        QTest::newRow("nul dropped") << QByteArray("1 2\na\0b", 7) << -1 << QPointF(1, 2) << QStringLiteral("ab");
        QTest::newRow("break after the bytes") << QByteArray("0.5 0.5\nhidden") << 7 << QPointF(0.5, 0.5) << QString();
    }

    void systemInfo()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, length);
        const Received r(reply, length);
        const SystemInfoReply info = SystemInfoReply::read(r.data(), r.size(), 9.f, 8.f);
        QTEST(QPointF(info.mppX, info.mppY), "mpp");
        QTEST(info.rest, "rest");
    }

    void timeAndJob_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("seconds");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("text");
        // 77 is the count before the reply: kept when no number is read
        QTest::newRow("plain") << QByteArray("95") << 95 << true << QStringLiteral("95");
        QTest::newRow("negative is over") << QByteArray("-4") << 0 << false << QStringLiteral("4");
        QTest::newRow("queued") << QByteArray("+ job 12 queued\n") << 77 << true << QStringLiteral("job 12 queued");
        QTest::newRow("empty") << QByteArray() << 77 << true << QString();
    }

    void timeAndJob()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, seconds);
        const Received r(reply);
        int count = 77;
        QCOMPARE(TimeReply::read(r.data(), r.size(), count), seconds != 77);
        QCOMPARE(count, seconds);
        const JobReply job = JobReply::read(r.data(), r.size());
        QTEST(job.accepted, "accepted");
        QTEST(job.text, "text");
    }

    void scopeList_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("banner");
        QTest::addColumn<QString>("records");
        QTest::newRow("typical") << QByteArray("Welcome\nto Orvex\n#Scope A\n<b>Bright</b>\nfield\n^\nS1 kidney\nS2 "
                                               "liver\n^\n$Scope B\nbusy\n^\nT1\n^\n")
                                 << QStringLiteral("Welcome\nto Orvex")
                                 << QStringLiteral("#Scope A|<b>Bright</b>\nfield\n|S1,S2 / $Scope B|busy\n|T1");
        QTest::newRow("no markers") << QByteArray("just a banner\n") << QStringLiteral("just a banner") << QString();
        QTest::newRow("marker first") << QByteArray("#A\nd\n^\ns\n^\n") << QString() << QStringLiteral("#A|d\n|s");
        QTest::newRow("CRLF lines") << QByteArray("Hi\r\nthere\r\n#A\r\nd\r\n^\r\ns1\r\n^\r\n")
                                    << QStringLiteral("Hi\nthere") << QStringLiteral("#A|d\n|s1");
        QTest::newRow("blank lines before slides")
            << QByteArray("#A\nd^\n\n  \n\ns1 x\n^\n") << QString() << QStringLiteral("#A|d|s1");
        QTest::newRow("marker in a slide line") << QByteArray("#A\nd\n^\ns1 #B\nbee\n^\ns2\n^\n") << QString()
                                                << QStringLiteral("#A|d\n|s1,bee / #B|bee\n|s2");
        QTest::newRow("empty slide section")
            << QByteArray("#A\nd\n^\n^\n#B\ne\n^\nt\n^\n") << QString() << QStringLiteral("#A|d\n| / #B|e\n|t");
        QTest::newRow("NUL ends the reply") << QByteArray("ban\0#X\n", 7) << QStringLiteral("ba") << QString();
    }

    void scopeList()
    {
        QFETCH(QByteArray, reply);
        const Received r(reply);
        const ScopeListParser list = ScopeListParser::parse(r.data(), r.size());
        QStringList parts;
        for (const ScopeRecord& s : list.records)
            parts << QString(s.controlLocked ? '$' : '#') + s.name + '|' + s.description + '|' + s.slides.join(',');
        QTEST(list.banner, "banner");
        QTEST(parts.join(QStringLiteral(" / ")), "records");
    }

    // Names go back as the Latin-1 bytes the server listed them in.
    void urls_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("encoded");
        QTest::newRow("plain") << "Orvex-BF-20x.1_~"
                               << "Orvex-BF-20x.1_~";
        QTest::newRow("latin-1") << QStringLiteral("zeta-\u00e4") << "zeta-%E4";
        QTest::newRow("url characters") << "a&b=c d#%?+\x7f\t"
                                        << "a%26b%3Dc%20d%23%25%3F%2B%7F%09";
        QTest::newRow("kept as typed") << "/:@(),;!*'$"
                                       << "/:@(),;!*'$";
        QTest::newRow("beyond latin-1") << QStringLiteral("\u0430\u00e4") << "%D0%B0%C3%A4";
    }

    void urls()
    {
        QFETCH(QString, name);
        QFETCH(QString, encoded);
        QCOMPARE(OrvexUrl::requestPrefix(name, name), "/cgi-bin/oserv?l=" + encoded + "&s=" + encoded + '&');
        QCOMPARE(OrvexUrl::wholeSlide("h:1", name), "http://h:1/whole_slides/" + encoded);
    }

    // Enormous words get break opportunities; tags and entities stay whole.
    void serverText_data()
    {
        QTest::addColumn<bool>("markup");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("broken");
        const QString z(QChar(0x200B));
        QTest::newRow("short words") << false << "ab cd efgh"
                                     << "ab cd efgh";
        QTest::newRow("long word") << false << "abcdefghij klm"
                                   << "abcd" + z + "efgh" + z + "ij klm";
        // tags and entities end where Qt's rich text ends them; an entity counts at full length
        QTest::newRow("compact html") << true << "<td title=\"a>b\">abcdef&amp;gh</td>"
                                      << "<td title=\"a>b\">abcd" + z + "ef" + z + "&amp;" + z + "gh</td>";
        QTest::newRow("quote inside a word") << true << "<b x=a\">abcdefgh"
                                             << "<b x=a\">abcd" + z + "efgh";
        QTest::newRow("comment") << true << "<!--a>b-->abcdefgh"
                                 << "<!--a>b-->abcd" + z + "efgh";
        QTest::newRow("unclosed tag hides the rest") << true << "<bcdefgh"
                                                     << "<bcdefgh";
        QTest::newRow("bare ampersand") << true << "&abcdefg"
                                        << "&abc" + z + "defg";
        const QString many = "<b>x</b>" + QString(100000, '<');
        QTest::newRow("100000 unclosed tags") << true << many << many;
    }

    void serverText()
    {
        QFETCH(bool, markup);
        QFETCH(QString, text);
        QElapsedTimer clock;
        clock.start();
        QTEST(markup ? ServerText::breakLongRunsInMarkup(text, 4) : ServerText::breakLongRuns(text, 4), "broken");
        QVERIFY(clock.elapsed() < 1000);
    }

    void slideMarks_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("length");
        QTest::addColumn<QList<QPointF>>("marks");
        QTest::newRow("two lines") << QByteArray("c1 100 200\nc2 300.5 400\n") << -1
                                   << QList<QPointF>{{100, 200}, {300.5, 400}};
        QTest::newRow("empty") << QByteArray() << -1 << QList<QPointF>{};
        QTest::newRow("overlong line skipped") << (QByteArray("a 1 2\n") + QByteArray(2000, 'x') + " 5 6\nb 3 4\n")
                                               << -1 << QList<QPointF>{{1, 2}, {3, 4}};
    }

    void slideMarks()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, length);
        const Received r(reply, length);
        QList<QPointF> marks;
        for (const CoordinateTriple& m : SlideMarks::read(r.data(), r.size()))
            marks << QPointF(m.x, m.y);
        QTEST(marks, "marks");
    }

    void calibrated_data()
    {
        QTest::addColumn<QByteArray>("fiducials");
        QTest::addColumn<QPointF>("stageXY");
        QTest::addColumn<QPoint>("pixel");
        QTest::addColumn<QPointF>("back"); // pixel (1000, 1000) on the stage; (0, 0): not checked
        // the view's 383 x 246 window stays inside the 3060 x 2036 picture
        QTest::newRow("fallback centre") << QByteArray() << QPointF(378350, 251625) << QPoint(1530, 1018)
                                         << QPointF(247287.6, 247175.8);
        QTest::newRow("rotated") << rotated << QPointF(100000, 100000) << QPoint(461, 546)
                                 << QPointF(248225.7, 230362.9);
        QTest::newRow("rotated, origin") << rotated << QPointF(0, 0) << QPoint(191, 200) << QPointF();
        QTest::newRow("half the millimetres") << rotated.chopped(13) + "37.835\n25.1625\n"
                                              << QPointF(50000, 50000) << QPoint(461, 546) << QPointF();
        QTest::newRow("infinite") << rotated << QPointF(qInf(), -qInf()) << QPoint(-1, -1) << QPointF();
        QTest::newRow("tiny slide") << QByteArray("100 200 2900 250 50 1900 2850 1950 1e-40 1e-30")
                                    << QPointF(378350, 251625) << QPoint(-1, -1) << QPointF();
    }

    void calibrated()
    {
        QFETCH(QByteArray, fiducials);
        QFETCH(QPointF, stageXY);
        QFETCH(QPoint, pixel);
        QFETCH(QPointF, back);
        Calibration c;
        if (!fiducials.isEmpty())
            c.load(fiducials.constData(), int(fiducials.size()));
        const QPoint got = c.stageToPixel(stage(float(stageXY.x()), float(stageXY.y())), 383, 246);
        if (pixel.x() >= 0)
            QCOMPARE(got, pixel);
        QVERIFY2(QRect(191, 123, 3060 - 382 + 1, 2036 - 246 + 1).contains(got), qPrintable(QString::number(got.x())));
        const CoordinateTriple at = c.pixelToStage(QPoint(1000, 1000));
        QVERIFY(std::isfinite(at.x + at.y));
        QCOMPARE(at.z, 0.0f);
        if (back.isNull())
            return;
        QVERIFY2(QLineF(QPointF(at.x, at.y), back).length() < 1,
                 qPrintable(QStringLiteral("%1 %2").arg(at.x).arg(at.y)));
        // and back to the pixel, less what truncation takes
        const QPoint again = c.stageToPixel(at, 383, 246);
        QVERIFY2((again - QPoint(1000, 1000)).manhattanLength() <= 2, qPrintable(QString::number(again.x())));
    }

    // Sampling points of a job: every step truncated to whole stage units, the
    // corners in single precision (a typed 12.1 mm ends at exactly 121000 units).
    void jobCount_data()
    {
        QTest::addColumn<QRectF>("mm");
        QTest::addColumn<int>("density");
        QTest::addColumn<int>("count");
        QTest::newRow("typed 12.1 mm") << QRectF(QPointF(10, 10), QPointF(12.1, 12.1)) << 10 << 21 * 21;
        QTest::newRow("steps of 3333 units") << QRectF(0, 0, 1, 1) << 3 << 4 * 4;
        QTest::newRow("1.5 million columns") << QRectF(0, 0, 150000, 1) << 10 << 15000000;
        QTest::newRow("saturates") << QRectF(0, 0, 1e6, 1e6) << 10 << INT_MAX;
        QTest::newRow("reversed") << QRectF(QPointF(5, 5), QPointF(4, 6)) << 1 << 0;
    }

    void jobCount()
    {
        QFETCH(QRectF, mm);
        QFETCH(int, density);
        const CoordinateTriple a = stage(float(mm.left()), float(mm.top()));
        const CoordinateTriple b = stage(float(mm.right()), float(mm.bottom()));
        QTEST(JobGrid::count(a, b, density), "count");
    }

    // The fetcher's buffer grows by the chunk and 25 bytes whenever a chunk
    // leaves no byte for a terminating zero, and is kept for later replies.
    void fetcherBuffer_data()
    {
        QTest::addColumn<QList<int>>("chunks");
        QTest::addColumn<QList<int>>("capacities");
        QTest::newRow("fits with its zero") << QList<int>{255} << QList<int>{256};
        QTest::newRow("one more grows") << QList<int>{256} << QList<int>{537};
        QTest::newRow("grows, then fills") << QList<int>{300, 280, 1} << QList<int>{581, 581, 607};
    }

    void fetcherBuffer()
    {
        QFETCH(QList<int>, chunks);
        QFETCH(QList<int>, capacities);
        MyHTTP fetcher;
        for (int i = 0; i < chunks.size(); ++i) {
            fetcher.getData(QByteArray(chunks[i], 'x'));
            QCOMPARE(int(fetcher.capacity()), capacities[i]);
        }
        QVERIFY(int(fetcher.capacity()) > fetcher.length());
    }

    // A new address while a request waits aborts it without a report.
    void fetcherNewUrlWhileBusy()
    {
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        const QString base = QStringLiteral("http://127.0.0.1:%1/").arg(silent.serverPort());
        MyHTTP fetcher;
        QSignalSpy done(&fetcher, qOverload<>(&MyHTTP::done));
        fetcher.setUrl(base + 'a');
        fetcher.start();
        QVERIFY(silent.waitForNewConnection(5000));
        fetcher.setUrl(base + 'b');
        QVERIFY(!fetcher.isBusy());
        QCOMPARE(fetcher.url(), base + 'b');
        QVERIFY(!done.wait(300));
        fetcher.start();
        QVERIFY(fetcher.isBusy());
    }

    // The drawn job grid: none for reversed corners, never more than the cap
    // (the 2 x 2 grid itself is drawn in the preview test).
    void gridPoints()
    {
        const CoordinateTriple origin = stage(0, 0), far = stage(1e7f, 1e7f);
        QCOMPARE(SelectionGrid::points(QPoint(500, 500), QPoint(400, 400), origin, far, 1).size(), 0);
        const QVector<QPoint> all = SelectionGrid::points(QPoint(0, 0), QPoint(3060, 2036), origin, far, 1);
        QCOMPARE(all.size(), SelectionGrid::maxPoints);
        QCOMPARE(all.first(), QPoint(0, 0));
    }
};

QTEST_MAIN(TestReplies)
#include "tst_replies.moc"
