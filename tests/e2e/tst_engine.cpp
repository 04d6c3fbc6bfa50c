#include "acquire/ControlClock.h"
#include "acquire/JobSubmitter.h"
#include "acquire/ScopeInfo.h"
#include "acquire/SessionLink.h"
#include "acquire/TicketReply.h"
#include "net/MyHTTP.h"
#include "net/OrvexUrl.h"
#include "sim/OrvexServer.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <memory>

// The engine of a granted session against the in-process server, with no
// window: this test links neither the widgets nor the control window.
class TestEngine : public QObject
{
    Q_OBJECT

    std::unique_ptr<OrvexServer> server;
    QStringList log;
    SessionLink link;

    int timeRequests() const
    {
        static const QRegularExpression time(QStringLiteral("[?&]f=t(&|$)"));
        return int(log.filter(time).size());
    }

private slots:
    void initTestCase()
    {
        server = std::make_unique<OrvexServer>();
        connect(server.get(), &OrvexServer::requestReceived, this, [this](const QString& target) { log << target; });
        QVERIFY(server->listen(0));
        const QString scope = server->scopeNames().value(0);
        MyHTTP ticket;
        QSignalSpy done(&ticket, qOverload<>(&MyHTTP::done));
        ticket.setUrl(OrvexUrl::sessionTicket(server->host(), scope, QStringLiteral("demo")));
        ticket.start();
        QVERIFY(done.wait(30000));
        QVERIFY(ticket.succeeded() && ticket.length() > 0 && ticket.data()[0] == '+');
        // The test server's demo account.
        link.grant(server->host(), OrvexUrl::requestPrefix(QStringLiteral("demo"), scope), QStringLiteral("orvex-demo"),
                   TicketReply::hexAt(ticket.data(), ticket.length(), 3));
    }

    void init()
    {
        server->clearFaults();
        log.clear();
    }

    void scopeInfo_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("scale and text") << QString();
        QTest::newRow("unreachable") << QStringLiteral("d:500:1");
    }

    void scopeInfo()
    {
        QFETCH(QString, fault);
        ScopeInfo info(link);
        QSignalSpy arrived(&info, &ScopeInfo::arrived);
        QSignalSpy messages(&info, &ScopeInfo::message);
        QSignalSpy answered(&info.sysInfoFetcher, qOverload<>(&MyHTTP::done));
        if (!fault.isEmpty())
            QVERIFY(server->addFault(fault));
        info.request();
        QVERIFY(answered.wait(10000));
        QCOMPARE(arrived.size(), fault.isEmpty() ? 1 : 0);
        QCOMPARE(messages.size(), fault.isEmpty() ? 0 : 1);
        QCOMPARE(info.mppX, fault.isEmpty() ? float(server->micronsPerPixel()) : 0.0f);
        QCOMPARE(info.text.isEmpty(), !fault.isEmpty());
    }

    void countdown_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<bool>("asks");
        QTest::addColumn<bool>("expires");
        QTest::newRow("32 onto 31") << 32 << false << false;
        QTest::newRow("31 onto 30 asks the server") << 31 << true << false;
        QTest::newRow("30 onto 29") << 30 << false << false;
        QTest::newRow("1 onto 0 ends control") << 1 << false << true;
    }

    void countdown()
    {
        QFETCH(int, from);
        QFETCH(bool, asks);
        QFETCH(bool, expires);
        ControlClock clock(link);
        QSignalSpy ticked(&clock, &ControlClock::ticked);
        QSignalSpy expired(&clock, &ControlClock::expired);
        QSignalSpy answered(&clock.timeFetcher, qOverload<>(&MyHTTP::done));
        // Counting, as after a first answer, but never ticking on its own here.
        clock.countdownTimer.start(3600 * 1000);
        clock.remainingSeconds = from;
        clock.tick();
        QCOMPARE(ticked.size(), 1);
        QCOMPARE(ticked.value(0).value(0).toInt(), from - 1);
        QCOMPARE(expired.size(), expires ? 1 : 0);
        QCOMPARE(clock.controlExpired, expires);
        QCOMPARE(clock.countdownTimer.isActive(), !expires);
        QCOMPARE(clock.timeFetcher.isBusy(), asks);
        if (asks) {
            QVERIFY(answered.wait(10000));
            // The server's time replaces the local count.
            QVERIFY(clock.remainingSeconds > 30);
        }
        QCOMPARE(timeRequests(), asks ? 1 : 0);
    }

    void answers_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("afterExpiry");
        QTest::addColumn<bool>("counting");
        QTest::addColumn<bool>("retrying");
        QTest::newRow("first answer starts the count") << "" << false << true << false;
        QTest::newRow("failed first answer asks again") << "t:500:1" << false << false << true;
        QTest::newRow("failure after the end stays quiet") << "t:500:1" << true << false << false;
        QTest::newRow("late answer counts again") << "" << true << true << false;
    }

    void answers()
    {
        QFETCH(QString, fault);
        QFETCH(bool, afterExpiry);
        QFETCH(bool, counting);
        QFETCH(bool, retrying);
        ControlClock clock(link);
        clock.countdownInterval = 50;
        clock.controlExpired = afterExpiry;
        QSignalSpy messages(&clock, &ControlClock::message);
        QSignalSpy answered(&clock.timeFetcher, qOverload<>(&MyHTTP::done));
        if (!fault.isEmpty())
            QVERIFY(server->addFault(fault));
        clock.request();
        QVERIFY(answered.wait(10000));
        QCOMPARE(clock.countdownTimer.isActive(), counting);
        QCOMPARE(clock.timeRetryTimer.isActive(), retrying);
        QCOMPARE(messages.size(), fault.isEmpty() ? 0 : 1);
        // Only the countdown itself ends control, and only a new session restores it.
        QCOMPARE(clock.controlExpired, afterExpiry);
        if (counting)
            QCOMPARE(clock.countdownTimer.interval(), 50);
        if (retrying) {
            QCOMPARE(clock.timeRetryTimer.interval(), 30 * 50);
            QVERIFY(answered.wait(10000));
            QVERIFY(clock.countdownTimer.isActive());
            QCOMPARE(timeRequests(), 2);
        }
        clock.stop();
        QVERIFY(!clock.countdownTimer.isActive() && !clock.timeRetryTimer.isActive() && !clock.timeFetcher.isBusy());
    }

    void jobs_data()
    {
        QTest::addColumn<QPointF>("topLeft");
        QTest::addColumn<QPointF>("bottomRight");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("queued") << QPointF(10.5, 20.25) << QPointF(12, 22.5) << "Job liver submitted.";
        QTest::newRow("corners swapped")
            << QPointF(12, 22.5) << QPointF(10.5, 20.25)
            << "***Job liver was not accepted: EMPTY_REGION (corners (12.0000, 22.5000) mm and (10.5000, 20.2500) mm, "
               "2 samples / mm, 15 sampling points)";
    }

    // The server's verdict reaches the listener with what is needed to submit again.
    void jobs()
    {
        QFETCH(QPointF, topLeft);
        QFETCH(QPointF, bottomRight);
        QFETCH(QString, outcome);
        JobSubmitter submitter(link);
        QStringList heard;
        connect(&submitter, &JobSubmitter::submitted, this,
                [&heard](const QString& job, const QString&) { heard << job + QStringLiteral(" submitted."); });
        connect(&submitter, &JobSubmitter::message, this, [&heard](const QString& text) { heard << text; });
        const qsizetype queued = server->jobs().size();
        QSignalSpy answered(&submitter.jobFetcher, qOverload<>(&MyHTTP::done));
        submitter.submit(QStringLiteral("liver"), topLeft, bottomRight, 2, 15);
        QVERIFY(answered.wait(10000));
        QCOMPARE(heard, QStringList{outcome});
        QCOMPARE(server->jobs().size() - queued, outcome.startsWith(QLatin1String("***")) ? 0 : 1);
    }
};

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
