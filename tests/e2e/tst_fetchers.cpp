#include "net/MyHTTP.h"
#include "net/MyWebJPEG.h"
#include "net/OrvexUrl.h"
#include "sim/OrvexServer.h"

#include <QBuffer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

// The two fetchers against the in-process test server: buffer contract,
// busy and repeat behaviour, failure paths and picture decoding.
class FetcherTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void bufferGrowsByChunkPlusSlack();
    void bufferIsReusedAcrossRequests();
    void newFetcherHasNotSucceeded();
    void startWhileBusyIsIgnored();
    void startRepeatsTheLastUrl();
    void doneCarriesTagBeforePlainDone();
    void setUrlWhileBusyAbortsSilently();
    void failures_data();
    void failures();
    void stallTimesOut();
    void oversizeBodyFails();
    void picturesDecodeAndFailuresKeepThePrevious();
    void pixmapModeEmitsOnlyPixmaps();
    void encodingKeepsParametersApart();

private:
    QString url(const QString& query) const
    {
        return QStringLiteral("http://") + server->host() + QStringLiteral("/cgi-bin/oserv?") + query;
    }

    std::unique_ptr<OrvexServer> server;
};

void FetcherTest::initTestCase()
{
    server = std::make_unique<OrvexServer>();
    QVERIFY(server->listen(0));
}

void FetcherTest::bufferGrowsByChunkPlusSlack()
{
    MyHTTP http;
    QCOMPARE(http.capacity(), 256u);
    http.getData(QByteArray(255, 'a'));
    QCOMPARE(http.capacity(), 256u);
    MyHTTP other;
    other.getData(QByteArray(256, 'b'));
    QCOMPARE(other.capacity(), 537u);
    other.data()[other.length()] = 0;
    QCOMPARE(other.length(), 256);
    other.getData(QByteArray(10, 'c'));
    QCOMPARE(other.length(), 266);
    QCOMPARE(other.capacity(), 537u);
    QCOMPARE(other.data()[265], 'c');
}

void FetcherTest::bufferIsReusedAcrossRequests()
{
    MyHTTP http;
    QSignalSpy done(&http, qOverload<>(&MyHTTP::done));
    http.setUrl(url(QStringLiteral("f=i")));
    http.start();
    QVERIFY(done.wait(5000));
    QVERIFY(http.succeeded());
    const int first = http.length();
    QVERIFY(first > 0);
    QVERIFY(http.capacity() >= unsigned(first) + 1);
    const unsigned grown = http.capacity();
    http.start();
    QVERIFY(done.wait(5000));
    QCOMPARE(http.length(), first);
    QCOMPARE(http.capacity(), grown);
}

void FetcherTest::newFetcherHasNotSucceeded()
{
    MyHTTP http;
    QVERIFY(!http.succeeded());
    QVERIFY(!http.isBusy());
    QSignalSpy done(&http, qOverload<>(&MyHTTP::done));
    http.start(); // no URL yet: nothing happens
    QVERIFY(!http.isBusy());
    QVERIFY(!done.wait(200));
}

void FetcherTest::startWhileBusyIsIgnored()
{
    MyHTTP http;
    QSignalSpy done(&http, qOverload<>(&MyHTTP::done));
    http.setUrl(url(QStringLiteral("f=i")));
    http.start();
    QVERIFY(http.isBusy());
    http.start();
    QVERIFY(done.wait(5000));
    QVERIFY(!done.wait(300));
    QCOMPARE(done.count(), 1);
}

void FetcherTest::startRepeatsTheLastUrl()
{
    server->clearLog();
    MyHTTP http;
    QSignalSpy done(&http, qOverload<>(&MyHTTP::done));
    http.setUrl(url(QStringLiteral("f=i")));
    for (int i = 0; i < 3; ++i) {
        http.start();
        QVERIFY(done.wait(5000));
    }
    QCOMPARE(done.count(), 3);
    QCOMPARE(server->requestLog().count(QStringLiteral("/cgi-bin/oserv?f=i")), 3);
}

void FetcherTest::doneCarriesTagBeforePlainDone()
{
    MyHTTP http;
    QStringList order;
    connect(&http, qOverload<int>(&MyHTTP::done), this,
            [&order](int tag) { order << QStringLiteral("tag%1").arg(tag); });
    connect(&http, qOverload<>(&MyHTTP::done), this, [&order] { order << QStringLiteral("done"); });
    http.setUrl(url(QStringLiteral("f=i")));
    http.start();
    QTRY_COMPARE_WITH_TIMEOUT(order.size(), 2, 5000);
    QCOMPARE(order, (QStringList{QStringLiteral("tag-1"), QStringLiteral("done")}));
}

void FetcherTest::setUrlWhileBusyAbortsSilently()
{
    QVERIFY(server->addFault(QStringLiteral("t:stall:1")));
    MyHTTP http;
    QSignalSpy done(&http, qOverload<>(&MyHTTP::done));
    http.setUrl(url(QStringLiteral("f=t")));
    http.start();
    QVERIFY(http.isBusy());
    http.setUrl(url(QStringLiteral("f=i")));
    QVERIFY(!http.isBusy());
    http.start();
    QVERIFY(done.wait(5000));
    QCOMPARE(done.count(), 1);
    QVERIFY(http.succeeded());
    QVERIFY(QByteArray(http.data(), http.length()).contains('#'));
    server->clearFaults();
}

void FetcherTest::failures_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("fault");
    QTest::newRow("refused") << QString() << QString();
    QTest::newRow("http 500") << QStringLiteral("f=i") << QStringLiteral("i:500:1");
    QTest::newRow("cut short") << QStringLiteral("f=i") << QStringLiteral("i:cut:1");
    QTest::newRow("closed without reply") << QStringLiteral("f=i") << QStringLiteral("i:refuse:5");
    QTest::newRow("unknown slide 404") << QStringLiteral("") << QStringLiteral("");
    QTest::newRow("host with a blank") << QStringLiteral("bad host") << QString();
    QTest::newRow("port out of range") << QStringLiteral("localhost:99999") << QString();
}

void FetcherTest::failures()
{
    QFETCH(QString, target);
    QFETCH(QString, fault);
    QString address;
    const QByteArray row = QTest::currentDataTag();
    if (row == "refused") {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        const quint16 port = closed.serverPort();
        closed.close();
        address = QStringLiteral("http://127.0.0.1:%1/cgi-bin/oserv?f=i").arg(port);
    } else if (row == "unknown slide 404") {
        address = OrvexUrl::wholeSlide(server->host(), QStringLiteral("no-such-slide"));
    } else if (fault.isEmpty()) {
        address = OrvexUrl::scopeList(target);
    } else {
        QVERIFY(server->addFault(fault));
        address = url(target);
    }
    MyHTTP http;
    QSignalSpy done(&http, qOverload<>(&MyHTTP::done));
    http.setUrl(address);
    http.start();
    QVERIFY(done.wait(10000));
    QVERIFY(!http.succeeded());
    QVERIFY(!http.isBusy());
    QVERIFY(!http.errorString().isEmpty());
    server->clearFaults();
}

void FetcherTest::stallTimesOut()
{
    QVERIFY(server->addFault(QStringLiteral("i:stall:1")));
    MyHTTP http;
    http.setStallTimeout(300);
    QSignalSpy done(&http, qOverload<>(&MyHTTP::done));
    http.setUrl(url(QStringLiteral("f=i")));
    http.start();
    QVERIFY(done.wait(10000));
    QVERIFY(!http.succeeded());
    // The fetcher is usable again at once.
    http.start();
    QVERIFY(done.wait(5000));
    QVERIFY(http.succeeded());
}

void FetcherTest::oversizeBodyFails()
{
    MyHTTP http;
    http.setMaxBytes(1000);
    QSignalSpy done(&http, qOverload<>(&MyHTTP::done));
    http.setUrl(OrvexUrl::wholeSlide(server->host(), server->slidesOf(server->scopeNames().first()).first()));
    http.start();
    QVERIFY(done.wait(10000));
    QVERIFY(!http.succeeded());
    QVERIFY(http.length() <= 1000);
    QVERIFY(http.capacity() < 4096);
}

void FetcherTest::picturesDecodeAndFailuresKeepThePrevious()
{
    const QString slide = server->slidesOf(server->scopeNames().first()).first();
    MyWebJPEG jpeg;
    QSignalSpy images(&jpeg, &MyWebJPEG::newImageAvailable);
    QSignalSpy failed(&jpeg, &MyWebJPEG::fetchFailed);
    QSignalSpy undecodable(&jpeg, &MyWebJPEG::decodeFailed);

    // Nothing decodable yet: the signal still comes, with a null picture.
    QVERIFY(server->addFault(QStringLiteral("small_slides:garbage:1")));
    jpeg.setUrl(OrvexUrl::smallSlide(server->host(), slide));
    QImage seen;
    connect(&jpeg, &MyWebJPEG::newImageAvailable, this, [&seen](QImage& image) { seen = image; });
    jpeg.get();
    QVERIFY(images.wait(5000));
    QVERIFY(seen.isNull());

    jpeg.get();
    QVERIFY(images.wait(5000));
    QVERIFY(!seen.isNull());
    const QImage kept = seen;

    QVERIFY(server->addFault(QStringLiteral("small_slides:empty:1")));
    jpeg.get();
    QVERIFY(images.wait(5000));
    QCOMPARE(seen, kept);

    QVERIFY(server->addFault(QStringLiteral("small_slides:500:1")));
    jpeg.get();
    QVERIFY(failed.wait(5000));
    QCOMPARE(images.count(), 3);
    QCOMPARE(undecodable.count(), 2);
    server->clearFaults();
}

void FetcherTest::pixmapModeEmitsOnlyPixmaps()
{
    MyWebJPEG jpeg;
    jpeg.setMode(0);
    QSignalSpy images(&jpeg, &MyWebJPEG::newImageAvailable);
    QSignalSpy pixmaps(&jpeg, &MyWebJPEG::newPixmapAvailable);
    QPixmap received;
    connect(&jpeg, &MyWebJPEG::newPixmapAvailable, this, [&received](QPixmap& pixmap) { received = pixmap; });
    jpeg.get(); // no URL: nothing
    jpeg.setUrl(OrvexUrl::smallSlide(server->host(), server->slidesOf(server->scopeNames().first()).first()));
    jpeg.get();
    jpeg.get(); // ignored while the first fetch runs
    QVERIFY(pixmaps.wait(5000));
    QVERIFY(!pixmaps.wait(300));
    QCOMPARE(pixmaps.count(), 1);
    QCOMPARE(images.count(), 0);
    QVERIFY(!received.isNull());
}

void FetcherTest::encodingKeepsParametersApart()
{
    QCOMPARE(OrvexUrl::encode(QStringLiteral("Plain-name_1.2~x")), QStringLiteral("Plain-name_1.2~x"));
    QCOMPARE(OrvexUrl::encode(QStringLiteral("a&s=other #%?/")), QStringLiteral("a%26s%3Dother%20%23%25%3F%2F"));
    QCOMPARE(OrvexUrl::encode(QStringLiteral("Zürich")), QStringLiteral("Z%FCrich"));
    QCOMPARE(OrvexUrl::requestPrefix(QStringLiteral("demo"), QStringLiteral("Scope-1")),
             QStringLiteral("/cgi-bin/oserv?l=demo&s=Scope-1&"));
    QCOMPARE(OrvexUrl::sessionTicket(QStringLiteral("h:1"), QStringLiteral("S"), QStringLiteral("a&s=x")),
             QStringLiteral("http://h:1/cgi-bin/oserv?f=ticket&s=S&l=a%26s%3Dx"));
}

QTEST_MAIN(FetcherTest)
#include "tst_fetchers.moc"
