// What the client's own tests do not reach in the test server: the refusals
// of its checks, its fault rules and its slide geometry.
#include "net/OrvexUrl.h"
#include "sim/OrvexServer.h"
#include "sim/SimAuth.h"
#include "sim/SlideModel.h"
#include "views/HighResPreview.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QtTest>

namespace {

struct Got
{
    int status = 0;
    QByteArray body;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    qint64 declared = -1;
    int pieces = 0;
};

// A plain GET; a stalled one is given up after transferTimeout, a body over
// abortAbove bytes is cut off.
Got get(QNetworkAccessManager& nam, const QString& url, int transferTimeout = 0, qint64 abortAbove = 0)
{
    QNetworkRequest request{QUrl(url)};
    request.setTransferTimeout(transferTimeout);
    QNetworkReply* reply = nam.get(request);
    Got g;
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [&g, reply, abortAbove] {
        ++g.pieces;
        g.body += reply->readAll();
        if (abortAbove > 0 && g.body.size() > abortAbove)
            reply->abort();
    });
    QSignalSpy finished(reply, &QNetworkReply::finished);
    if (!reply->isFinished())
        finished.wait(20000);
    g.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    g.body += reply->isOpen() ? reply->readAll() : QByteArray();
    g.error = reply->error();
    g.declared = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    reply->deleteLater();
    return g;
}

} // namespace

class TestServer : public QObject
{
    Q_OBJECT

    std::unique_ptr<OrvexServer> server;
    QNetworkAccessManager nam;
    const QString pw = QStringLiteral("orvex-demo");

    QString scope(int i) const { return server->scopeNames().at(i); }
    QByteArray oserv(const QString& query) { return get(nam, url("/cgi-bin/oserv?" + query)).body; }
    QString url(const QString& path) const { return "http://" + server->host() + path; }
    QByteArray control(int s, const QString& query) { return oserv("l=demo&s=" + scope(s) + "&" + query); }
    // The number the server scrambled into a "+" reply, read from index on.
    quint32 numberIn(const QByteArray& reply, int index)
    {
        quint32 value = 0;
        return SimAuth::parseHex(QString::fromLatin1(reply.mid(index).trimmed()), &value)
                   ? SimAuth::unscramble(value, pw)
                   : 0;
    }
    quint32 ticket(int s) { return numberIn(oserv("f=ticket&s=" + scope(s) + "&l=demo"), 3); }

private slots:
    void init()
    {
        server = std::make_unique<OrvexServer>();
        QVERIFY(server->listen(0));
    }

    void refusals()
    {
        // before any ticket nothing is controllable
        QVERIFY(control(0, "f=w&auth=" + SimAuth::token(1, 0, pw)).startsWith('-'));
        const quint32 challenge = numberIn(oserv("f=sticket&s=" + scope(0) + "&l=demo"), 4);
        const quint32 t = ticket(0);
        QVERIFY(control(0, "f=w&auth=" + SimAuth::token(4242, t, pw)).startsWith('+'));
        for (const QString& auth : {QString(), QStringLiteral("&auth=zz"), "&auth=" + SimAuth::token(4242, t, "orvex"),
                                    "&auth=" + SimAuth::token(4242, challenge, pw)})
            QVERIFY2(control(0, "f=w" + auth).startsWith('-'), qPrintable(auth));
        for (const char* q : {"f=m&x=1000&y=1000&z=1000", "f=m&b=y&x=1000&y=1000&z=1000", "f=a", "f=r",
                              "f=cj&ld=1&tlx=200000&tly=200000&brx=210000&bry=210000&n=x"})
            QVERIFY2(control(0, QLatin1String(q) + "&auth=1234").startsWith('-'), q);
        QVERIFY(server->jobs().isEmpty());
        // a new ticket replaces the old one
        const quint32 t2 = ticket(0);
        QVERIFY(t2 == t || control(0, "f=w&auth=" + SimAuth::token(5, t, pw)).startsWith('-'));
        // a reservation token made for an earlier challenge is refused
        const QString ids = "&s=" + scope(2) + "&l=demo";
        const quint32 old = numberIn(oserv("f=sticket" + ids), 4);
        oserv("f=sticket" + ids);
        QVERIFY(oserv("f=scna" + ids + "&auth=" + SimAuth::token(99, old, pw)).startsWith("-BAD_AUTH"));
        // an expired session refuses control, a scope unknown refuses all
        server->setSessionSeconds(0);
        QVERIFY(control(0, "f=w&auth=" + SimAuth::token(3, ticket(0), pw)).startsWith('-'));
        QVERIFY(oserv("l=demo&s=no-such-scope&f=d").startsWith('-'));
        QCOMPARE(get(nam, url("/whole_slides/no-such-slide")).status, 404);
    }

    void jobParameters_data()
    {
        QTest::addColumn<QString>("params");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("good") << "&ld=1&tlx=100000&tly=100000&brx=120000&bry=120000&n=a" << true;
        QTest::newRow("density 0") << "&ld=0&tlx=100000&tly=100000&brx=120000&bry=120000&n=a" << false;
        QTest::newRow("density 11") << "&ld=11&tlx=100000&tly=100000&brx=120000&bry=120000&n=a" << false;
        QTest::newRow("no name") << "&ld=1&tlx=100000&tly=100000&brx=120000&bry=120000&n=" << false;
        QTest::newRow("empty region") << "&ld=1&tlx=120000&tly=100000&brx=120000&bry=120000&n=a" << false;
        QTest::newRow("outside") << "&ld=1&tlx=100000&tly=100000&brx=920000&bry=120000&n=a" << false;
        QTest::newRow("not a number") << "&ld=1&tlx=abc&tly=100000&brx=120000&bry=120000&n=a" << false;
        QTest::newRow("missing corner") << "&ld=1&tlx=100000&tly=100000&brx=120000&n=a" << false;
    }

    void jobParameters()
    {
        QFETCH(QString, params);
        QFETCH(bool, accepted);
        const QByteArray reply = control(0, "f=cj&auth=" + SimAuth::token(8, ticket(0), pw) + params);
        QCOMPARE(reply.startsWith('+'), accepted);
        QVERIFY(reply.startsWith('+') || reply.startsWith('-'));
        QCOMPARE(server->jobs().size(), accepted ? 1 : 0);
    }

    void marksWhereTheSlideShowsThem()
    {
        // the client's preview, calibrated by the server's fiducials, puts each
        // mark where the server drew its feature
        const QString slide = server->slidesOf(scope(0)).first();
        HighResPreview preview(nullptr, "highRes");
        preview.resize(383, 246);
        preview.setHost(server->host());
        QString name = slide;
        preview.slideChange(name);
        QTRY_VERIFY_WITH_TIMEOUT(!preview.isBusy() && !preview.markPixels().isEmpty(), 30000);
        const SlideModel model(slide, OrvexServerOptions().seed);
        QCOMPARE(preview.markPixels().size(), model.marks().size());
        for (int i = 0; i < model.marks().size(); ++i) {
            double px = 0, py = 0;
            model.stageToWholePixel(model.marks()[i].x, model.marks()[i].y, &px, &py);
            const QPoint want(qBound(191, int(px), 3060 - 191), qBound(123, int(py), 2036 - 123));
            QVERIFY2((preview.markPixels()[i] - want).manhattanLength() <= 4, qPrintable(model.marks()[i].word));
        }
        // the same seed makes the same microscope
        OrvexServerOptions options;
        options.seed = 8;
        OrvexServer other(options);
        QVERIFY(other.listen(0));
        const QByteArray picture = get(nam, url("/small_slides/" + slide)).body;
        QCOMPARE(get(nam, url("/small_slides/" + slide)).body, picture);
        QVERIFY(get(nam, "http://" + other.host() + "/small_slides/" + slide).body != picture);
    }

    void faultRules_data()
    {
        QTest::addColumn<QString>("rule");
        QTest::addColumn<QString>("seen");
        QTest::newRow("no fault") << "i"
                                  << "invalid";
        QTest::newRow("unknown fault") << "i:explode"
                                       << "invalid";
        QTest::newRow("zero count") << "i:500:0"
                                    << "invalid";
        QTest::newRow("bad count") << "i:500:x"
                                   << "invalid";
        QTest::newRow("empty kind") << ":500"
                                    << "invalid";
        QTest::newRow("too many parts") << "i:500:1:2"
                                        << "invalid";
        QTest::newRow("refuse") << "i:refuse"
                                << "no reply";
        QTest::newRow("500") << "i:500:2"
                             << "500";
        QTest::newRow("empty") << "*:empty"
                               << "empty";
        QTest::newRow("garbage") << "i:garbage"
                                 << "other body";
        QTest::newRow("cut") << "i:cut"
                             << "cut short";
        QTest::newRow("stall") << "i:stall:1"
                               << "stalled";
        QTest::newRow("drip") << "i:drip"
                              << "in pieces";
        QTest::newRow("status") << "i:status"
                                << "status";
        QTest::newRow("nul") << "i:nul"
                             << "nul";
        QTest::newRow("oversize") << "i:oversize"
                                  << "oversize";
    }

    void faultRules()
    {
        QFETCH(QString, rule);
        QFETCH(QString, seen);
        const QString list = url("/cgi-bin/oserv?f=i");
        const QByteArray normal = get(nam, list).body;
        QCOMPARE(server->addFault(rule), seen != QLatin1String("invalid"));
        const Got g = get(nam, list, 500, 4 * 1024 * 1024);
        QString got;
        if (seen == QLatin1String("invalid"))
            got = g.body == normal ? seen : QStringLiteral("changed");
        else if (g.status == 500)
            got = QStringLiteral("500");
        else if (g.error == QNetworkReply::OperationCanceledError)
            got = g.declared >= 80LL * 1024 * 1024 ? QStringLiteral("oversize") : QStringLiteral("stalled");
        else if (g.error != QNetworkReply::NoError)
            got = g.declared > g.body.size() && normal.startsWith(g.body) ? QStringLiteral("cut short")
                                                                          : QStringLiteral("no reply");
        else if (g.body.isEmpty())
            got = QStringLiteral("empty");
        else if (g.body != normal && QByteArray(g.body).replace('\0', QByteArray()) == normal)
            got = QStringLiteral("nul");
        else if (g.body == normal)
            got = g.pieces >= 5 ? QStringLiteral("in pieces") : QStringLiteral("same");
        else
            got = g.body.startsWith('?') && g.body.mid(1) == normal.mid(1) ? QStringLiteral("status")
                                                                           : QStringLiteral("other body");
        QCOMPARE(got, seen);
        // a rule with a count wears out; clearing ends the others
        if (rule == QLatin1String("i:500:2")) {
            QCOMPARE(get(nam, list).status, 500);
            QCOMPARE(get(nam, list).body, normal);
        }
        server->clearFaults();
        QCOMPARE(get(nam, list).body, normal);
    }
};

QTEST_MAIN(TestServer)
#include "tst_server.moc"
