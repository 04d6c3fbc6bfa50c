// Protocol of the simulated Orvex server: microscope list, scheduling and
// session tickets, the token check, and the request forms of a session.
#include "PlainClient.h"

#include "sim/OrvexServer.h"
#include "sim/SimAuth.h"

#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <QTest>
#include <QUrl>

namespace {

// The server compares the Latin-1 bytes it listed.
QString enc(const QString& v)
{
    return QString::fromLatin1(v.toLatin1().toPercentEncoding());
}

} // namespace

class TestSimProtocol : public QObject
{
    Q_OBJECT

private:
    OrvexServer* server = nullptr;
    QNetworkAccessManager nam;
    QString base() const { return QStringLiteral("http://") + server->host(); }
    QString oserv(const QString& query) const { return base() + QStringLiteral("/cgi-bin/oserv?") + query; }
    QByteArray get(const QString& query) { return plainGet(nam, oserv(query)).body; }
    QByteArray reserve(const QString& login, const QString& password, const QString& scope)
    {
        const QString ids = QStringLiteral("&s=") + enc(scope) + QStringLiteral("&l=") + enc(login);
        const QByteArray sticket = get(QStringLiteral("f=sticket") + ids);
        if (!sticket.startsWith('+'))
            return sticket;
        const QString token = clientToken(numberAt(sticket, 4, password), password, 12345);
        return get(QStringLiteral("f=scna") + ids + QStringLiteral("&auth=") + token);
    }
    // session ticket number, or 0 when refused
    quint32 ticket(const QString& login, const QString& password, const QString& scope)
    {
        const QByteArray reply = get(QStringLiteral("f=ticket&s=") + enc(scope) + QStringLiteral("&l=") + enc(login));
        return reply.startsWith('+') ? numberAt(reply, 3, password) : 0;
    }
    QString prefix(const QString& login, const QString& scope) const
    {
        return QStringLiteral("l=") + enc(login) + QStringLiteral("&s=") + enc(scope) + QStringLiteral("&");
    }

private slots:
    void init()
    {
        server = new OrvexServer();
        QVERIFY(server->listen(0));
    }
    void cleanup()
    {
        delete server;
        server = nullptr;
    }

    void scrambleRoundTrips_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<quint32>("value");
        QTest::newRow("empty key") << QString() << 0x12345678u;
        QTest::newRow("one char") << QStringLiteral("A") << 0xDEADBEEFu;
        QTest::newRow("demo password") << QStringLiteral("orvex-demo") << 0x0F1E2D3Cu;
        QTest::newRow("high latin1") << QStringLiteral("\u00e9\u00ff8Hx") << 0xFFFFFFFFu;
    }
    void scrambleRoundTrips()
    {
        QFETCH(QString, key);
        QFETCH(quint32, value);
        QCOMPARE(SimAuth::unscramble(SimAuth::scramble(value, key), key), value);
        QCOMPARE(SimAuth::scramble(value, key), rotateBytes(value, key.toLatin1(), true));
    }

    void tokenCheck()
    {
        const quint32 challenge = 0x5A5AC3C3u;
        const QString pw = QStringLiteral("orvex-demo");
        // every draw of a client is accepted
        for (quint32 r : {0u, 1u, 255u, 256u, 12345u, 32767u})
            QVERIFY2(SimAuth::verify(clientToken(challenge, pw, r), challenge, pw), qPrintable(QString::number(r)));
        // an empty key and challenge 0 give the composed number itself
        QCOMPARE(SimAuth::token(0x0102, 0, QString()), QStringLiteral("20102"));
        QVERIFY(!SimAuth::verify(clientToken(challenge ^ 1u, pw, 777), challenge, pw));
        QVERIFY(!SimAuth::verify(clientToken(challenge, QStringLiteral("guess"), 777), challenge, pw));
        QVERIFY(!SimAuth::verify(QStringLiteral("deadbeef"), challenge, pw));
        QVERIFY(!SimAuth::verify(QString(), challenge, pw));
        QVERIFY(!SimAuth::verify(QStringLiteral("12 34"), challenge, pw));
        QVERIFY(!SimAuth::verify(QStringLiteral("123456789"), challenge, pw));
    }

    void scopeList()
    {
        const PlainReply g = plainGet(nam, oserv(QStringLiteral("f=i")));
        QCOMPARE(g.status, 200);
        const QByteArray& body = g.body;
        const int first = body.indexOf('#');
        QVERIFY(first > 10); // a banner comes first
        QVERIFY(body.indexOf('$') > first);
        const QStringList names = server->scopeNames();
        QVERIFY(names.size() >= 3);
        QVERIFY(body.contains("#" + names.at(0).toLatin1() + "\n"));
        QVERIFY(body.contains("#" + names.at(1).toLatin1() + "\n"));
        QVERIFY(body.contains("$" + names.at(2).toLatin1() + "\n"));
        for (const QString& name : names) {
            QVERIFY(server->slidesOf(name).size() >= 2);
            for (const QString& slide : server->slidesOf(name))
                QVERIFY(body.contains("\n" + slide.toLatin1() + " "));
        }
        // four "^" lines per two entries: description end and slide end
        QCOMPARE(body.count("\n^\n"), 2 * names.size());
    }

    void reservationOutcomes()
    {
        const QString scope2 = server->scopeNames().at(1);
        const QString scope1 = server->scopeNames().at(0);
        QVERIFY(reserve("demo", "orvex-demo", scope2).startsWith("+NOW"));
        QVERIFY(reserve("demo", "orvex-demo", scope2).startsWith("-DOUBLE_DIPPING"));
        QVERIFY(reserve("demo", "orvex-demo", scope1).startsWith("-DOUBLE_DIPPING"));
        QVERIFY(reserve("guest", "guest", scope2).startsWith("-NO_AUTHORIZATION"));
        QVERIFY(reserve("guest", "wrong", scope2).startsWith("-BAD_AUTH"));
        QVERIFY(!reserve("nobody", "x", scope2).startsWith('+'));

        // a token made for an earlier challenge is refused
        const QString ids = QStringLiteral("&s=") + server->scopeNames().at(2) + QStringLiteral("&l=demo");
        const QByteArray old = get(QStringLiteral("f=sticket") + ids);
        get(QStringLiteral("f=sticket") + ids);
        const QString stale = clientToken(numberAt(old, 4, "orvex-demo"), "orvex-demo", 99);
        QVERIFY(get(QStringLiteral("f=scna") + ids + QStringLiteral("&auth=") + stale).startsWith("-BAD_AUTH"));
        QVERIFY(get(QStringLiteral("f=scna") + ids).startsWith("-BAD_AUTH"));
    }

    void sessionTicketReplies()
    {
        const QString scope1 = server->scopeNames().at(0);
        const QString scope2 = server->scopeNames().at(1);
        const QByteArray granted = get(QStringLiteral("f=ticket&s=") + scope1 + QStringLiteral("&l=demo"));
        QVERIFY(granted.startsWith('+'));
        QVERIFY(granted.size() > 3 && isxdigit(static_cast<unsigned char>(granted.at(3))));
        QCOMPARE(get(QStringLiteral("f=ticket&s=") + scope2 + QStringLiteral("&l=demo")), QByteArray("-UNSCHEDULED"));
        QCOMPARE(get(QStringLiteral("f=ticket&s=") + scope1 + QStringLiteral("&l=guest")),
                 QByteArray("-NO_AUTHORIZATION"));
        QCOMPARE(get(QStringLiteral("f=ticket&s=") + scope1 + QStringLiteral("&l=nobody")),
                 QByteArray("-NO_AUTHORIZATION"));
        server->unschedule("demo", scope1);
        QCOMPARE(get(QStringLiteral("f=ticket&s=") + scope1 + QStringLiteral("&l=demo")), QByteArray("-UNSCHEDULED"));
    }

    void controlNeedsValidToken()
    {
        const QString scope = server->scopeNames().at(0);
        const QString p = prefix("demo", scope);
        // before any ticket nothing is controllable
        QVERIFY(get(p + QStringLiteral("f=w&auth=") + clientToken(0, "orvex-demo", 1)).startsWith('-'));

        const QByteArray sticket = get(QStringLiteral("f=sticket&s=") + scope + QStringLiteral("&l=demo"));
        const quint32 schedulingChallenge = numberAt(sticket, 4, "orvex-demo");
        const quint32 t = ticket("demo", "orvex-demo", scope);
        QVERIFY(t != 0);
        QVERIFY(get(p + QStringLiteral("f=w&auth=") + clientToken(t, "orvex-demo", 4242)).startsWith('+'));
        QVERIFY(get(p + QStringLiteral("f=w")).startsWith('-'));
        QVERIFY(get(p + QStringLiteral("f=w&auth=zz")).startsWith('-'));
        QVERIFY(get(p + QStringLiteral("f=w&auth=") + clientToken(t, "orvex", 4242)).startsWith('-'));
        QVERIFY(get(p + QStringLiteral("f=w&auth=") + clientToken(schedulingChallenge, "orvex-demo", 4242))
                    .startsWith('-'));
        for (const char* q : {"f=m&x=1000&y=1000&z=1000", "f=m&b=y&x=1000&y=1000&z=1000", "f=a", "f=r",
                              "f=cj&ld=1&tlx=200000&tly=200000&brx=210000&bry=210000&n=x"}) {
            QVERIFY2(get(p + QLatin1String(q)).startsWith('-'), q);
            QVERIFY2(get(p + QLatin1String(q) + QStringLiteral("&auth=1234")).startsWith('-'), q);
        }
        QVERIFY(server->jobs().isEmpty());
        // a new ticket replaces the old one
        const quint32 t2 = ticket("demo", "orvex-demo", scope);
        QVERIFY(get(p + QStringLiteral("f=w&auth=") + clientToken(t2, "orvex-demo", 5)).startsWith('+'));
        if (t2 != t)
            QVERIFY(get(p + QStringLiteral("f=w&auth=") + clientToken(t, "orvex-demo", 5)).startsWith('-'));
    }

    void systemInfoAndTime()
    {
        const QString scope = server->scopeNames().at(0);
        const QByteArray info = get(prefix("demo", scope) + QStringLiteral("f=d"));
        float mx = 0, my = 0;
        QCOMPARE(std::sscanf(info.constData(), "%f %f", &mx, &my), 2);
        QCOMPARE(double(mx), server->micronsPerPixel());
        QCOMPARE(double(my), server->micronsPerPixel());
        QVERIFY(info.indexOf('\n') > 0 && info.indexOf('\n') < info.size() - 1);

        QCOMPARE(get(prefix("demo", scope) + QStringLiteral("f=t")).trimmed(), QByteArray("0"));
        server->setSessionSeconds(600);
        QVERIFY(ticket("demo", "orvex-demo", scope) != 0);
        const int left = get(prefix("demo", scope) + QStringLiteral("f=t")).trimmed().toInt();
        QVERIFY(left > 590 && left <= 600);
        QVERIFY(get(prefix("demo", "no-such-scope") + QStringLiteral("f=d")).startsWith('-'));
    }

    void expiredSessionRefusesControl()
    {
        const QString scope = server->scopeNames().at(0);
        server->setSessionSeconds(0);
        const quint32 t = ticket("demo", "orvex-demo", scope);
        QVERIFY(
            get(prefix("demo", scope) + QStringLiteral("f=w&auth=") + clientToken(t, "orvex-demo", 3)).startsWith('-'));
    }

    void namesRoundTrip()
    {
        // characters that would cut or add parameters if not decoded
        const QString login = QStringLiteral("J\u00f6rg & #%+ x");
        const QString scope = QStringLiteral("Lab %20 & \u00c5");
        const QString pw = QStringLiteral("p\u00e5ss word");
        server->addAccount(login, pw);
        server->addScope(scope, false, QStringLiteral("<b>test</b>"), {QStringLiteral("liver-01")});
        server->authorize(login, scope);
        QVERIFY(reserve(login, pw, scope).startsWith("+NOW"));
        const quint32 t = ticket(login, pw, scope);
        QVERIFY(t != 0);
        const QString job = QStringLiteral("R\u00e9gion & n=2 #7 %41");
        const QByteArray reply = get(prefix(login, scope) + QStringLiteral("f=cj&auth=") + clientToken(t, pw, 77) +
                                     QStringLiteral("&ld=2&tlx=105000.0000&tly=202500.0000&brx=120000.0000"
                                                    "&bry=225000.0000&n=") +
                                     enc(job));
        QVERIFY2(reply.startsWith('+'), reply.constData());
        QCOMPARE(server->jobs().size(), 1);
        QVERIFY(server->jobs().first().endsWith(QStringLiteral("n=") + job));
        QVERIFY(server->jobs().first().contains(QStringLiteral("points=15")));
        for (const QString& line : server->requestLog())
            QVERIFY(!line.contains(QStringLiteral("p%C3%A5ss")) && !line.contains(pw));
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
        QTest::newRow("swapped") << "&ld=1&tlx=130000&tly=100000&brx=120000&bry=120000&n=a" << false;
        QTest::newRow("outside") << "&ld=1&tlx=100000&tly=100000&brx=920000&bry=120000&n=a" << false;
        QTest::newRow("not a number") << "&ld=1&tlx=abc&tly=100000&brx=120000&bry=120000&n=a" << false;
        QTest::newRow("missing corner") << "&ld=1&tlx=100000&tly=100000&brx=120000&n=a" << false;
    }
    void jobParameters()
    {
        QFETCH(QString, params);
        QFETCH(bool, accepted);
        const QString scope = server->scopeNames().at(0);
        const quint32 t = ticket("demo", "orvex-demo", scope);
        const QByteArray reply =
            get(prefix("demo", scope) + QStringLiteral("f=cj&auth=") + clientToken(t, "orvex-demo", 8) + params);
        QCOMPARE(reply.startsWith('+'), accepted);
        QVERIFY(reply.startsWith('+') || reply.startsWith('-'));
        QCOMPARE(server->jobs().size(), accepted ? 1 : 0);
    }

    void logRecordsTargetsWithoutPasswords()
    {
        QTemporaryFile file;
        QVERIFY(file.open());
        QVERIFY(server->setLogFile(file.fileName()));
        QSignalSpy received(server, &OrvexServer::requestReceived);
        const QString scope = server->scopeNames().at(1);
        reserve("demo", "orvex-demo", scope);
        get(QStringLiteral("f=i"));
        QCOMPARE(received.count(), 3);
        const QStringList log = server->requestLog();
        QCOMPARE(log.size(), 3);
        QVERIFY(log.at(0).startsWith(QStringLiteral("/cgi-bin/oserv?f=sticket&s=") + scope));
        QVERIFY(log.at(1).startsWith(QStringLiteral("/cgi-bin/oserv?f=scna&")));
        QCOMPARE(log.at(2), QStringLiteral("/cgi-bin/oserv?f=i"));
        const QByteArray written = file.readAll();
        QCOMPARE(written.count('\n'), 3);
        QVERIFY(!written.contains("orvex-demo"));
        server->clearLog();
        QVERIFY(server->requestLog().isEmpty());
    }
};

QTEST_MAIN(TestSimProtocol)
#include "tst_simprotocol.moc"
