// Fault rules of the simulated server, each observed from a plain client.
#include "sim/OrvexServer.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

namespace {

struct Got
{
    int status = 0;
    QByteArray body;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    qint64 declared = -1;
    int pieces = 0;
};

// transferTimeout ends a stalled request; abortAbove gives up on a body
// that grows past the cap, as the client's fetcher does.
Got fetch(QNetworkAccessManager& nam, const QString& url, int transferTimeout = 0, qint64 abortAbove = 0)
{
    QNetworkRequest request{QUrl(url)};
    if (transferTimeout > 0)
        request.setTransferTimeout(transferTimeout);
    QNetworkReply* reply = nam.get(request);
    Got g;
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [&g, reply, abortAbove]() {
        ++g.pieces;
        g.body += reply->readAll();
        if (abortAbove > 0 && g.body.size() > abortAbove)
            reply->abort();
    });
    QSignalSpy finished(reply, &QNetworkReply::finished);
    if (!reply->isFinished())
        finished.wait(20000);
    g.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->isOpen())
        g.body += reply->readAll();
    g.error = reply->error();
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    g.declared = length.isValid() ? length.toLongLong() : -1;
    reply->deleteLater();
    return g;
}

} // namespace

class TestSimFaults : public QObject
{
    Q_OBJECT

private:
    OrvexServer* server = nullptr;
    QNetworkAccessManager nam;
    QByteArray normalList;
    QString url(const QString& pathAndQuery) const { return QStringLiteral("http://") + server->host() + pathAndQuery; }
    QString list() const { return url(QStringLiteral("/cgi-bin/oserv?f=i")); }

private slots:
    void init()
    {
        server = new OrvexServer();
        QVERIFY(server->listen(0));
        normalList = fetch(nam, list()).body;
        QVERIFY(normalList.contains('#'));
    }
    void cleanup()
    {
        delete server;
        server = nullptr;
    }

    void rulesParse_data()
    {
        QTest::addColumn<QString>("rule");
        QTest::addColumn<bool>("valid");
        QTest::newRow("kind and fault") << "i:500" << true;
        QTest::newRow("with count") << "p:stall:2" << true;
        QTest::newRow("every kind") << "*:nul" << true;
        QTest::newRow("path kind") << "whole_slides:cut" << true;
        QTest::newRow("no fault") << "i" << false;
        QTest::newRow("unknown fault") << "i:explode" << false;
        QTest::newRow("zero count") << "i:500:0" << false;
        QTest::newRow("bad count") << "i:500:x" << false;
        QTest::newRow("empty kind") << ":500" << false;
        QTest::newRow("too many parts") << "i:500:1:2" << false;
    }
    void rulesParse()
    {
        QFETCH(QString, rule);
        QFETCH(bool, valid);
        QCOMPARE(server->addFault(rule), valid);
    }

    void refuse()
    {
        QVERIFY(server->addFault("i:refuse"));
        const Got g = fetch(nam, list());
        QVERIFY(g.error != QNetworkReply::NoError);
        QVERIFY(g.body.isEmpty());
        QCOMPARE(g.status, 0);
    }

    void http500()
    {
        QVERIFY(server->addFault("i:500"));
        const Got g = fetch(nam, list());
        QCOMPARE(g.status, 500);
        QVERIFY(g.error != QNetworkReply::NoError);
    }

    void emptyBody()
    {
        QVERIFY(server->addFault("i:empty"));
        const Got g = fetch(nam, list());
        QCOMPARE(g.status, 200);
        QCOMPARE(g.error, QNetworkReply::NoError);
        QVERIFY(g.body.isEmpty());
    }

    void garbage()
    {
        QVERIFY(server->addFault("i:garbage"));
        const Got g = fetch(nam, list());
        QCOMPARE(g.status, 200);
        QVERIFY(!g.body.isEmpty());
        QVERIFY(g.body != normalList);
    }

    void cutShort()
    {
        QVERIFY(server->addFault("i:cut"));
        const Got g = fetch(nam, list());
        QVERIFY(g.error != QNetworkReply::NoError);
        QVERIFY(g.declared > g.body.size());
        QVERIFY(normalList.startsWith(g.body));
    }

    void stallEndsWhenClientGivesUp()
    {
        QVERIFY(server->addFault("i:stall:1"));
        const Got g = fetch(nam, list(), 300);
        QCOMPARE(g.error, QNetworkReply::OperationCanceledError);
        QVERIFY(g.body.isEmpty());
        // the server goes on serving others
        QCOMPARE(fetch(nam, list()).body, normalList);
    }

    void dripArrivesWhole()
    {
        QVERIFY(server->addFault("i:drip"));
        const Got g = fetch(nam, list());
        QCOMPARE(g.error, QNetworkReply::NoError);
        QCOMPARE(g.body, normalList);
        QVERIFY(g.pieces >= 5);
    }

    void oversize()
    {
        QVERIFY(server->addFault("fiducials:oversize"));
        const Got g =
            fetch(nam, url(QStringLiteral("/fiducials/") + server->slidesOf(server->scopeNames().first()).first()), 0,
                  4 * 1024 * 1024);
        QVERIFY(g.declared >= 80LL * 1024 * 1024);
        QVERIFY(g.body.size() > 4 * 1024 * 1024); // it really keeps coming
        QCOMPARE(g.error, QNetworkReply::OperationCanceledError);
    }

    void wrongStatusCharacter()
    {
        const QString ticket = url(QStringLiteral("/cgi-bin/oserv?f=ticket&s=") + server->scopeNames().first() +
                                   QStringLiteral("&l=demo"));
        QVERIFY(server->addFault("ticket:status"));
        const Got g = fetch(nam, ticket);
        QCOMPARE(g.status, 200);
        QCOMPARE(g.body.at(0), '?');
        QVERIFY(g.body.size() > 3);
    }

    void nulBytes()
    {
        QVERIFY(server->addFault("i:nul"));
        const Got g = fetch(nam, list());
        QVERIFY(g.body.contains('\0'));
        QByteArray stripped = g.body;
        stripped.replace('\0', QByteArray());
        QCOMPARE(stripped, normalList);
    }

    void countAndKindSelectRequests()
    {
        QVERIFY(server->addFault("i:500:2"));
        QCOMPARE(fetch(nam, list()).status, 500);
        QCOMPARE(fetch(nam, list()).status, 500);
        QCOMPARE(fetch(nam, list()).body, normalList);

        // kinds of session requests and slide paths
        const QString scope = server->scopeNames().first();
        const QString slide = server->slidesOf(scope).first();
        const QString p = QStringLiteral("/cgi-bin/oserv?l=demo&s=") + scope + QStringLiteral("&");
        QVERIFY(server->addFault("inset:500"));
        QVERIFY(server->addFault("mb:500"));
        QVERIFY(server->addFault("sl:500"));
        QCOMPARE(fetch(nam, url(p + QStringLiteral("f=p&ps=1&x=0&y=0&inset=1"))).status, 500);
        QCOMPARE(fetch(nam, url(p + QStringLiteral("f=p&ps=1"))).status, 200);
        QCOMPARE(fetch(nam, url(p + QStringLiteral("f=m&b=y&x=1&y=1&z=1"))).status, 500);
        QCOMPARE(fetch(nam, url(p + QStringLiteral("f=m&x=1&y=1&z=1"))).status, 200);
        QCOMPARE(fetch(nam, url(QStringLiteral("/cgi-bin/ocount?f=sl&s=") + slide)).status, 500);
        QCOMPARE(fetch(nam, url(QStringLiteral("/fiducials/") + slide)).status, 200);

        QVERIFY(server->addFault("*:empty"));
        QVERIFY(fetch(nam, list()).body.isEmpty());
        QVERIFY(fetch(nam, url(QStringLiteral("/fiducials/") + slide)).body.isEmpty());
        server->clearFaults();
        QCOMPARE(fetch(nam, list()).body, normalList);
    }

    void latencyKeepsReplies()
    {
        server->setLatency(150);
        QCOMPARE(fetch(nam, list()).body, normalList);
        QVERIFY(server->addFault("i:drip:1"));
        QCOMPARE(fetch(nam, list()).body, normalList);
    }
};

QTEST_MAIN(TestSimFaults)
#include "tst_simfaults.moc"
