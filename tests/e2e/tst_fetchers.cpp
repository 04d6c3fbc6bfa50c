#include "net/MyHTTP.h"
#include "net/MyWebJPEG.h"
#include "net/OrvexUrl.h"
#include "sim/OrvexServer.h"

#include <QtTest>

// The two fetchers against the test server: the buffer contract, busy and
// repeat behaviour, failures and picture decoding.
class TestFetchers : public QObject
{
    Q_OBJECT

    OrvexServer server;
    QString list() const { return OrvexUrl::scopeList(server.host()); }
    QString slide() const { return OrvexUrl::smallSlide(server.host(), server.slidesOf(server.scopeNames()[0])[0]); }

private slots:
    void initTestCase() { QVERIFY(server.listen(0)); }
    void cleanup() { server.clearFaults(); }

    void buffer()
    {
        // 256 bytes at first; a fuller chunk grows it by the chunk plus slack
        MyHTTP http;
        QCOMPARE(http.capacity(), 256u);
        http.getData(QByteArray(255, 'a'));
        QCOMPARE(http.capacity(), 256u);
        MyHTTP other;
        other.getData(QByteArray(256, 'b'));
        QCOMPARE(other.capacity(), 537u);
        other.getData(QByteArray(10, 'c'));
        QCOMPARE(other.length(), 266);
        QCOMPARE(other.data()[265], 'c');
        QCOMPARE(other.capacity(), 537u);
    }

    void requestsInTurn()
    {
        MyHTTP http;
        QStringList order;
        connect(&http, qOverload<int>(&MyHTTP::done), this, [&order](int tag) { order << QString::number(tag); });
        connect(&http, qOverload<>(&MyHTTP::done), this, [&order] { order << QStringLiteral("done"); });
        // no URL yet: nothing happens
        http.start();
        QVERIFY(!http.isBusy() && !http.succeeded());
        server.clearLog();
        http.setUrl(list());
        http.start();
        // a start while busy is ignored; a later one repeats the URL into the same buffer
        http.start();
        QTRY_COMPARE(order, (QStringList{"-1", "done"}));
        const int length = http.length();
        const unsigned capacity = http.capacity();
        http.start();
        QTRY_COMPARE(order.size(), 4);
        QCOMPARE(server.requestLog(), (QStringList(2, "/cgi-bin/oserv?f=i")));
        QCOMPARE(http.length(), length);
        QCOMPARE(http.capacity(), capacity);

        // a new URL while busy drops the old request without a signal
        QVERIFY(server.addFault(QStringLiteral("t:stall:1")));
        http.setUrl(OrvexUrl::session(server.host(), QStringLiteral("/cgi-bin/oserv?"), QStringLiteral("f=t")));
        http.start();
        http.setUrl(list());
        QVERIFY(!http.isBusy());
        http.start();
        QTRY_COMPARE(order.size(), 6);
        QVERIFY(http.succeeded());
        QCOMPARE(QByteArray(http.data(), http.length()).left(17), QByteArray("Orvex test server"));
    }

    void failures_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("fault");
        QTest::newRow("http 500") << QString() << "i:500:1";
        QTest::newRow("cut short") << QString() << "i:cut:1";
        QTest::newRow("closed without reply") << QString() << "i:refuse:5";
        QTest::newRow("stall") << QString() << "i:stall:1";
        QTest::newRow("over the cap") << QString() << "i:oversize:1";
        QTest::newRow("404") << "/whole_slides/no-such-slide" << QString();
        QTest::newRow("host with a blank") << "http://bad host/" << QString();
        QTest::newRow("port out of range") << "http://localhost:99999/" << QString();
    }

    void failures()
    {
        QFETCH(QString, url);
        QFETCH(QString, fault);
        if (!fault.isEmpty())
            QVERIFY(server.addFault(fault));
        MyHTTP http;
        http.setStallTimeout(300);
        http.setMaxBytes(100000);
        QSignalSpy done(&http, qOverload<>(&MyHTTP::done));
        http.setUrl(url.isEmpty() ? list() : url.startsWith('/') ? "http://" + server.host() + url : url);
        http.start();
        QVERIFY(done.wait(10000));
        QVERIFY(!http.succeeded() && !http.isBusy());
        QVERIFY(!http.errorString().isEmpty());
        QVERIFY(http.capacity() <= 200000);
        // usable again at once
        server.clearFaults();
        if (url.isEmpty()) {
            http.start();
            QVERIFY(done.wait(5000));
            QVERIFY(http.succeeded());
        }
    }

    void pictures()
    {
        MyWebJPEG jpeg;
        QSignalSpy images(&jpeg, &MyWebJPEG::newImageAvailable);
        QSignalSpy failed(&jpeg, &MyWebJPEG::fetchFailed);
        QSignalSpy undecodable(&jpeg, &MyWebJPEG::decodeFailed);
        QImage seen;
        connect(&jpeg, &MyWebJPEG::newImageAvailable, this, [&seen](QImage& image) { seen = image; });
        jpeg.setUrl(slide());
        // nothing decodable yet: the signal still comes, with a null picture
        QVERIFY(server.addFault(QStringLiteral("small_slides:garbage:1")));
        jpeg.get();
        QVERIFY(images.wait(5000));
        QVERIFY(seen.isNull());
        jpeg.get();
        QVERIFY(images.wait(5000));
        const QImage kept = seen;
        QVERIFY(!kept.isNull());
        // an unreadable reply keeps the previous picture, a failed one sends none
        QVERIFY(server.addFault(QStringLiteral("small_slides:empty:1")));
        jpeg.get();
        QVERIFY(images.wait(5000));
        QCOMPARE(seen, kept);
        QVERIFY(server.addFault(QStringLiteral("small_slides:500:1")));
        jpeg.get();
        QVERIFY(failed.wait(5000));
        QCOMPARE(images.size(), 3);
        QCOMPARE(undecodable.size(), 2);

        // pixmap mode sends pixmaps only, one per fetch
        MyWebJPEG pixmaps;
        pixmaps.setMode(0);
        QSignalSpy pictures(&pixmaps, &MyWebJPEG::newPixmapAvailable);
        QSignalSpy none(&pixmaps, &MyWebJPEG::newImageAvailable);
        pixmaps.setUrl(slide());
        pixmaps.get();
        pixmaps.get();
        QVERIFY(pictures.wait(5000));
        QVERIFY(!pixmaps.http().isBusy());
        QCOMPARE(pictures.size(), 1);
        QCOMPARE(none.size(), 0);
    }

    void encoding()
    {
        QCOMPARE(OrvexUrl::encode(QStringLiteral("Plain-name_1.2~x")), QStringLiteral("Plain-name_1.2~x"));
        QCOMPARE(OrvexUrl::encode(QStringLiteral("a&s=other #%?/")), QStringLiteral("a%26s%3Dother%20%23%25%3F%2F"));
        QCOMPARE(OrvexUrl::encode(QStringLiteral("Z\u00fcrich")), QStringLiteral("Z%C3%BCrich"));
        QCOMPARE(OrvexUrl::requestPrefix(QStringLiteral("demo"), QStringLiteral("Scope-1")),
                 QStringLiteral("/cgi-bin/oserv?l=demo&s=Scope-1&"));
        QCOMPARE(OrvexUrl::sessionTicket(QStringLiteral("h:1"), QStringLiteral("S"), QStringLiteral("a&s=x")),
                 QStringLiteral("http://h:1/cgi-bin/oserv?f=ticket&s=S&l=a%26s%3Dx"));
    }
};

QTEST_MAIN(TestFetchers)
#include "tst_fetchers.moc"
