#include "setup/ScopeListParser.h"
#include "setup/ServerText.h"

#include <QRandomGenerator>
#include <QTest>

#include <cstring>
#include <memory>

namespace {

// Parses from an unterminated heap copy, so reads past the length show up
// under the address sanitizer.
ScopeListParser parseCopy(const QByteArray& reply)
{
    std::unique_ptr<char[]> bytes(new char[reply.size() > 0 ? reply.size() : 1]);
    std::memcpy(bytes.get(), reply.constData(), static_cast<size_t>(reply.size()));
    return ScopeListParser::parse(bytes.get(), reply.size());
}

QString describe(const ScopeListParser& list)
{
    QStringList parts;
    for (const ScopeRecord& r : list.records)
        parts << (r.controlLocked ? QStringLiteral("$") : QStringLiteral("#")) + r.name + QStringLiteral("|") +
                     r.description + QStringLiteral("|") + r.slides.join(QLatin1Char(','));
    return parts.join(QStringLiteral(" / "));
}

} // namespace

class TestScopeList : public QObject
{
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("banner");
        QTest::addColumn<QString>("records");

        QTest::newRow("typical") << QByteArray(
                                        "Welcome\nto Orvex\n#Scope A\n<b>Bright</b>\nfield\n^\nS1 kidney\nS2 liver\n^\n"
                                        "$Scope B\nbusy\n^\nT1\n^\n")
                                 << QStringLiteral("Welcome\nto Orvex")
                                 << QStringLiteral("#Scope A|<b>Bright</b>\nfield\n|S1,S2 / $Scope B|busy\n|T1");
        QTest::newRow("no markers") << QByteArray("just a banner\n") << QStringLiteral("just a banner") << QString();
        QTest::newRow("empty reply") << QByteArray() << QString() << QString();
        QTest::newRow("marker first") << QByteArray("#A\nd\n^\ns\n^\n") << QString() << QStringLiteral("#A|d\n|s");
        QTest::newRow("marker at the very end")
            << QByteArray("banner\n#") << QStringLiteral("banner") << QStringLiteral("#||");
        QTest::newRow("no caret") << QByteArray("#A\ndescription only") << QString()
                                  << QStringLiteral("#A|description only|");
        QTest::newRow("CRLF lines") << QByteArray("Hi\r\nthere\r\n#A\r\nd\r\n^\r\ns1\r\n^\r\n")
                                    << QStringLiteral("Hi\nthere") << QStringLiteral("#A|d\n|s1");
        QTest::newRow("blank lines before slides")
            << QByteArray("#A\nd^\n\n  \n\ns1 x\n^\n") << QString() << QStringLiteral("#A|d|s1");
        QTest::newRow("marker inside a slide line begins an entry")
            << QByteArray("#A\nd\n^\ns1 #B\nbee\n^\ns2\n^\n") << QString()
            << QStringLiteral("#A|d\n|s1,bee / #B|bee\n|s2");
        QTest::newRow("empty slide section keeps the next entry")
            << QByteArray("#A\nd\n^\n^\n#B\ne\n^\nt\n^\n") << QString() << QStringLiteral("#A|d\n| / #B|e\n|t");
        QTest::newRow("NUL ends the reply") << QByteArray("ban\0#X\n", 7) << QStringLiteral("ba") << QString();
        const QByteArray longName(120, 'n');
        const QByteArray longSlide(100, 's');
        QTest::newRow("long names kept whole")
            << QByteArray("#" + longName + "\nd\n^\n" + longSlide + "\n^\n") << QString()
            << QStringLiteral("#%1|d\n|%2").arg(QString::fromLatin1(longName), QString::fromLatin1(longSlide));
        QTest::newRow("latin-1") << QByteArray("#Mikroskop \xe4\nd\n^\ns\n^\n") << QString()
                                 << QStringLiteral("#Mikroskop \u00e4|d\n|s");
    }

    void parse()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, banner);
        QFETCH(QString, records);
        const ScopeListParser list = parseCopy(reply);
        QCOMPARE(list.banner, banner);
        QCOMPARE(describe(list), records);
    }

    void enormousWordsGetBreakOpportunities()
    {
        const QChar zwsp(0x200B);
        const QString plain = QStringLiteral("short words stay as they are");
        QCOMPARE(ServerText::breakLongRuns(plain, 8), plain);
        QCOMPARE(ServerText::breakLongRuns(QStringLiteral("abcdefghij klm"), 4),
                 QStringLiteral("abcd") + zwsp + QStringLiteral("efgh") + zwsp + QStringLiteral("ij klm"));
        const QString huge(2049, QLatin1Char('w'));
        const QString broken = ServerText::breakLongRuns(huge);
        QCOMPARE(broken.count(zwsp), 2);
        QCOMPARE(QString(broken).remove(zwsp), huge);

        // Markup: tags, quoted attributes and entities stay whole; an entity is one character.
        const QString html = QStringLiteral("<table><tr><td title=\"a>b\">abcdef&amp;gh</td></tr></table>");
        QCOMPARE(ServerText::breakLongRunsInMarkup(html, 4), QStringLiteral("<table><tr><td title=\"a>b\">abcd") +
                                                                 zwsp + QStringLiteral("ef&amp;g") + zwsp +
                                                                 QStringLiteral("h</td></tr></table>"));
        const QString open = QStringLiteral("<b") + huge;
        QCOMPARE(ServerText::breakLongRunsInMarkup(open).count(zwsp), 2);
        QCOMPARE(ServerText::breakLongRunsInMarkup(QStringLiteral("&") + huge).count(zwsp), 2);
    }

    void hostileRepliesEndQuickly()
    {
        QRandomGenerator random(3);
        QByteArray garbage(1 << 20, Qt::Uninitialized);
        for (char& c : garbage)
            c = static_cast<char>(random.bounded(1, 256));
        const ScopeListParser list = parseCopy(garbage);
        QVERIFY(!list.records.isEmpty());

        // every slide line carries a marker: each entry would rescan the rest
        QByteArray nested("#A\n^\n");
        while (nested.size() < (1 << 20))
            nested += "x#\n";
        nested += "^\n";
        const ScopeListParser deep = parseCopy(nested);
        qint64 kept = 0;
        for (const ScopeRecord& r : deep.records)
            kept += r.description.size() + r.name.size();
        QVERIFY(kept <= 9 * qint64(nested.size()) + 65536);
        QVERIFY(deep.records.size() > 1);

        const QByteArray markers(1 << 20, '$');
        QCOMPARE(parseCopy(markers).records.size(), 1);
    }
};

QTEST_MAIN(TestScopeList)
#include "tst_scopelist.moc"
