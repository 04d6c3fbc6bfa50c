#include "setup/Auth.h"
#include "setup/TicketReply.h"
#include "sim/SimAuth.h"

#include <QRandomGenerator>
#include <QTest>
#include <QTime>

#include <cstdlib>
#include <cstring>
#include <memory>

class TestAuth : public QObject
{
    Q_OBJECT

    static QString latin1Key(const QByteArray& bytes) { return QString::fromLatin1(bytes); }

private slots:
    void scramble_data()
    {
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<uint>("value");
        QTest::addColumn<uint>("expected");
        QTest::newRow("empty key") << QByteArray() << 0xdeadbeefu << 0xdeadbeefu;
        // 'A' is 65: count 1 on the least significant byte only
        QTest::newRow("one char, low byte") << QByteArray("A") << 0x818181c3u << 0x81818187u;
        // 'G' is 71: count 7, the same as one to the right
        QTest::newRow("count 7") << QByteArray("G") << 0x00000001u << 0x00000080u;
        QTest::newRow("lanes 0..3") << QByteArray("ABCD") << 0x01010101u << 0x10080402u;
        // positions 0, 4 and 8 all act on the low byte
        QTest::newRow("positions 0,4,8") << QByteArray("A000A000A") << 0x01010101u << 0x01010108u;
        QTest::newRow("multiples of 8") << QByteArray("08HPXhpx") << 0x12345678u << 0x12345678u;
        QTest::newRow("high bytes") << QByteArray("\x80\x81\x87\xff\xc1") << 0x12345678u << 0x12345678u;
    }

    void scramble()
    {
        QFETCH(QByteArray, key);
        QFETCH(uint, value);
        QFETCH(uint, expected);
        Auth auth;
        auth.setKey(latin1Key(key));
        QCOMPARE(auth.scramble(value), expected);
        QCOMPARE(auth.unscramble(expected), value);
        QCOMPARE(SimAuth::scramble(value, latin1Key(key)), expected);
    }

    void roundTripsOverRandomKeys()
    {
        QRandomGenerator random(7);
        Auth auth;
        for (int round = 0; round < 2000; ++round) {
            QByteArray key(random.bounded(0, 24), Qt::Uninitialized);
            for (char& c : key)
                c = static_cast<char>(random.bounded(1, 256));
            auth.setKey(latin1Key(key));
            const quint32 v = random.generate();
            QCOMPARE(auth.unscramble(auth.scramble(v)), v);
            auth.setChallenge(static_cast<int>(auth.scramble(v)));
            QCOMPARE(auth.currentChallenge(), v);
        }
    }

    void tokenWithEmptyKeyShowsTheDraw()
    {
        Auth auth;
        auth.setChallenge(0);
        QCOMPARE(auth.makeToken(0), QStringLiteral("0"));
        QCOMPARE(auth.makeToken(0x1234), QStringLiteral("3a81234"));
        QCOMPARE(auth.makeToken(32767), QStringLiteral("7e817fff"));
        for (int i = 0; i < 500; ++i) {
            const QString token = auth.makeToken();
            QVERIFY(token == token.toLower());
            bool ok = false;
            const quint32 x = token.toUInt(&ok, 16);
            QVERIFY(ok);
            const quint32 r = x & 0xffffu;
            QVERIFY(r <= 32767);
            QCOMPARE(x >> 16, (r >> 8) * (r & 0xffu));
        }
    }

    void tokensPassTheServersCheck()
    {
        QRandomGenerator random(11);
        const QStringList keys = {QStringLiteral("orvex-demo"), QStringLiteral("guest"), QString(),
                                  QStringLiteral("p\u00e4ss w\u00f6rd"), QStringLiteral("HPX08hpx")};
        for (const QString& key : keys) {
            Auth auth;
            auth.setKey(key);
            const quint32 challenge = random.generate();
            auth.setChallenge(static_cast<int>(SimAuth::scramble(challenge, key)));
            for (int i = 0; i < 200; ++i)
                QVERIFY2(SimAuth::verify(auth.makeToken(), challenge, key), qPrintable(key));
            // a token made with another password fails ("x" would not: it is a multiple of 8)
            Auth other;
            other.setKey(key + QStringLiteral("a"));
            other.setChallenge(static_cast<int>(SimAuth::scramble(challenge, key)));
            int accepted = 0;
            for (int i = 0; i < 200; ++i)
                accepted += SimAuth::verify(other.makeToken(), challenge, key) ? 1 : 0;
            QVERIFY(accepted < 20);
        }
    }

    void seedsWithSecondsSinceMidnight()
    {
        // A construction on a second boundary can see two seeds; a few tries settle it.
        for (int attempt = 0; attempt < 5; ++attempt) {
            const int before = QTime::currentTime().msecsSinceStartOfDay() / 1000;
            Auth auth;
            const QString token = auth.makeToken();
            const int after = QTime::currentTime().msecsSinceStartOfDay() / 1000;
            if (before != after)
                continue;
            std::srand(static_cast<unsigned>(before));
            QCOMPARE(token, auth.makeToken(std::rand() % 32768));
            return;
        }
        QFAIL("clock kept crossing second boundaries");
    }

    void hexReader_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("index");
        QTest::addColumn<uint>("expected");
        QTest::newRow("scheduling") << QByteArray("+OK 1a2b3c4d") << -1 << 4 << 0x1a2b3c4du;
        QTest::newRow("white space skipped") << QByteArray("+T \n\t ff") << -1 << 3 << 0xffu;
        QTest::newRow("stops at non-hex") << QByteArray("+OK beefy") << -1 << 4 << 0xbeefu;
        QTest::newRow("low 32 bits") << QByteArray("+OK 123456789abc") << -1 << 4 << 0x56789abcu;
        QTest::newRow("no digits") << QByteArray("+OK zz") << -1 << 4 << 0u;
        QTest::newRow("shorter than index") << QByteArray("+OK") << -1 << 4 << 0u;
        QTest::newRow("only the marker") << QByteArray("+") << -1 << 3 << 0u;
        QTest::newRow("bounded by length") << QByteArray("+T 12345678") << 5 << 3 << 0x12u;
        // Hex digits only: no C prefix, no sign, and no saturation.
        QTest::newRow("C prefix") << QByteArray("+T 0x1f") << -1 << 3 << 0u;
        QTest::newRow("plus sign") << QByteArray("+T +ff") << -1 << 3 << 0u;
        QTest::newRow("minus sign") << QByteArray("+OK -1") << -1 << 4 << 0u;
        QTest::newRow("beyond 64 bits") << QByteArray("+OK 123456789abcdef0123") << -1 << 4 << 0xcdef0123u;
    }

    void hexReader()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, length);
        QFETCH(int, index);
        QFETCH(uint, expected);
        // a copy without terminator shows the reader keeps within length
        const int n = length < 0 ? reply.size() : length;
        std::unique_ptr<char[]> bytes(new char[n > 0 ? n : 1]);
        std::memcpy(bytes.get(), reply.constData(), static_cast<size_t>(n));
        QCOMPARE(TicketReply::hexAt(bytes.get(), n, index), expected);
    }

    void replyWords()
    {
        QCOMPARE(TicketReply::firstWord("+NOW scheduled\n", 15), QByteArray("+NOW"));
        QCOMPARE(TicketReply::firstWord(" \n -BAD_AUTH\n", 13), QByteArray("-BAD_AUTH"));
        QCOMPARE(TicketReply::firstWord("", 0), QByteArray());
        QCOMPARE(TicketReply::firstWord("+NOWHERE", 4), QByteArray("+NOW"));
        const QByteArray longWord(700, 'a');
        QCOMPARE(TicketReply::firstWord(longWord.constData(), longWord.size()).size(), 511);

        using TicketReply::Ticket;
        QCOMPARE(TicketReply::classifyTicket("-UNSCHEDULED", 12), Ticket::Unscheduled);
        QCOMPARE(TicketReply::classifyTicket("-UNSCHEDULED\n", 13), Ticket::Other);
        QCOMPARE(TicketReply::classifyTicket("-UNSCHEDULEDxyz", 12), Ticket::Unscheduled);
        QCOMPARE(TicketReply::classifyTicket("-NO_AUTHORIZATION", 17), Ticket::NoAuthorization);
        QCOMPARE(TicketReply::classifyTicket(" -NO_AUTHORIZATION", 18), Ticket::Other);
        QCOMPARE(TicketReply::classifyTicket("+T 5", 4), Ticket::Granted);
        QCOMPARE(TicketReply::classifyTicket("", 0), Ticket::Other);
    }
};

QTEST_MAIN(TestAuth)
#include "tst_auth.moc"
