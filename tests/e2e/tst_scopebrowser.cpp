#include "MessageBoxCatcher.h"
#include "TopLevelWindows.h"
#include "session/Session.h"
#include "setup/ScopeBrowser.h"
#include "sim/OrvexServer.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTextBrowser>
#include <QTextEdit>
#include <QtTest>

#include <memory>

// The setup dialog against the in-process test server: the microscope list,
// reservations, session tickets and the hand-over to the control window.
class TestScopeBrowser : public QObject
{
    Q_OBJECT

    std::unique_ptr<OrvexServer> server;
    QPointer<ScopeBrowser> browser;

    bool connectToList()
    {
        browser->connectToServer->click();
        return QTest::qWaitFor(
            [this]() { return browser->connectionStatus->text() == QLatin1String("Connection Successful"); }, 10000);
    }

    void login(const QString& user, const QString& password)
    {
        browser->loginBox->setText(user);
        browser->passwordBox->setText(password);
    }

    int requestsOfKind(const QString& kind) const
    {
        int count = 0;
        for (const QString& target : server->requestLog())
            count += target.contains(QStringLiteral("f=") + kind + QLatin1Char('&')) ||
                             target.endsWith(QStringLiteral("f=") + kind)
                         ? 1
                         : 0;
        return count;
    }

    static Session* openSession() { return topLevelWindow<Session>(); }

private slots:
    void init()
    {
        server = std::make_unique<OrvexServer>();
        QVERIFY(server->listen(0));
        browser = new ScopeBrowser;
        QCOMPARE(browser->hostName->text(), QStringLiteral("localhost:8642"));
        browser->hostName->setText(server->host());
        browser->show();
        // a failure that arrives before the window is active would lose the
        // host selection to the activation's focus change
        QVERIFY(QTest::qWaitForWindowActive(browser));
    }

    void cleanup()
    {
        delete browser.data();
        deleteTopLevelWindows<Session>();
        server.reset();
    }

    void listsTheMicroscopes()
    {
        QCOMPARE(browser->windowTitle(), QStringLiteral("Tessan 2.03 - New Scope Session"));
        QVERIFY(!browser->reserveButton->isEnabled());
        QVERIFY(!browser->beginButton->isEnabled());
        QVERIFY(connectToList());

        const QStringList names = server->scopeNames();
        QCOMPARE(browser->scopeListBox->count(), names.size());
        QCOMPARE(browser->scopeRecords().size(), names.size());
        for (int row = 0; row < names.size(); ++row)
            QCOMPARE(browser->scopeListBox->item(row)->text(), names.at(row));
        QVERIFY(browser->bannerBox->toPlainText().startsWith(QStringLiteral("Orvex test server")));

        QCOMPARE(browser->scopeListBox->currentRow(), 0);
        QVERIFY(!browser->descriptionBox->toPlainText().isEmpty());
        QStringList slides;
        for (int i = 0; i < browser->slideList->count(); ++i)
            slides << browser->slideList->item(i)->text();
        QCOMPARE(slides, server->slidesOf(names.first()));
        QVERIFY(browser->reserveButton->isEnabled());
        QVERIFY(browser->beginButton->isEnabled());

        int locked = -1;
        for (int row = 0; row < browser->scopeRecords().size(); ++row)
            if (browser->scopeRecords().at(row).controlLocked)
                locked = row;
        QVERIFY(locked > 0);
        browser->scopeListBox->setCurrentRow(locked);
        QVERIFY(!browser->beginButton->isEnabled());
        QCOMPARE(browser->slideList->item(0)->text(), server->slidesOf(names.at(locked)).first());
        browser->scopeListBox->setCurrentRow(0);
        QVERIFY(browser->beginButton->isEnabled());
    }

    void connectWhileConnectingIsIgnored()
    {
        QVERIFY(server->addFault(QStringLiteral("i:stall")));
        browser->connectToServer->click();
        QTRY_COMPARE(requestsOfKind(QStringLiteral("i")), 1);
        QCOMPARE(browser->connectionStatus->text(), QStringLiteral("Connecting..."));
        browser->connectToServer->click();
        QVERIFY(browser->isSelectionFrozen());
        // a list request sent after the ignored click would arrive before this one
        server->addFault(QStringLiteral("t:500"));
        QCoreApplication::processEvents();
        QCOMPARE(requestsOfKind(QStringLiteral("i")), 1);
        // closing the dialog with the request in flight is safe
        delete browser.data();
    }

    void connectionFailures_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("host");
        QTest::newRow("500") << QStringLiteral("i:500") << QString();
        QTest::newRow("refused") << QStringLiteral("i:refuse:4") << QString();
        QTest::newRow("cut short") << QStringLiteral("i:cut:4") << QString();
        QTest::newRow("host that forms no URL") << QString() << QStringLiteral("bad host name:port");
    }

    void connectionFailures()
    {
        QFETCH(QString, fault);
        QFETCH(QString, host);
        if (!fault.isEmpty())
            QVERIFY(server->addFault(fault));
        if (!host.isEmpty())
            browser->hostName->setText(host);
        MessageBoxCatcher catcher;
        browser->connectToServer->click();
        QCOMPARE(catcher.title(), QStringLiteral("Connection Failed"));
        QCOMPARE(catcher.text(), QStringLiteral("No Orvex server could be found at the given hostname"));
        QCOMPARE(browser->connectionStatus->text(), QStringLiteral("Connection Failed."));
        QCOMPARE(browser->hostName->selectedText(), browser->hostName->text());
        QCOMPARE(browser->scopeListBox->count(), 0);
        QVERIFY(!browser->reserveButton->isEnabled());
        QVERIFY(!browser->beginButton->isEnabled());
        QVERIFY(browser->isSelectionFrozen());
    }

    void replyWithoutEntries()
    {
        QVERIFY(server->addFault(QStringLiteral("i:empty")));
        MessageBoxCatcher catcher;
        QVERIFY(connectToList());
        QCOMPARE(browser->scopeListBox->count(), 0);
        QVERIFY(!browser->reserveButton->isEnabled());
        QVERIFY(!browser->beginButton->isEnabled());
        QCOMPARE(catcher.count(), 0);
    }

    void reservationRefreshesTheList()
    {
        QVERIFY(connectToList());
        login(QStringLiteral("demo"), QStringLiteral("orvex-demo"));
        browser->scopeListBox->setCurrentRow(1);
        server->clearLog();
        MessageBoxCatcher catcher;
        browser->reserveButton->click();
        QCOMPARE(catcher.title(), QStringLiteral("Scheduling Successful"));
        QCOMPARE(catcher.text(), QStringLiteral("You are now scheduled for scope time.  You may click \"Control "
                                                "Scope\" to begin using the microscope."));
        QTRY_COMPARE(requestsOfKind(QStringLiteral("i")), 1);
        QTRY_COMPARE(browser->connectionStatus->text(), QStringLiteral("Connection Successful"));
        QCOMPARE(browser->scopeListBox->currentRow(), 1);
        QVERIFY(browser->reserveButton->isEnabled());
        QVERIFY(browser->beginButton->isEnabled());
        QVERIFY(!browser->isSelectionFrozen());

        browser->reserveButton->click();
        QVERIFY(catcher.waitFor(2));
        QCOMPARE(catcher.title(), QStringLiteral("Authorization Failed"));
        QCOMPARE(catcher.text(), QStringLiteral("You cannot schedule more than one entry at a time."));

        for (const QString& target : server->requestLog())
            QVERIFY2(!target.contains(QStringLiteral("orvex-demo")), qPrintable(target));
    }

    void reservationRefused_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::newRow("wrong password") << QStringLiteral("demo") << QStringLiteral("not-it") << QString()
                                        << QStringLiteral("Incorrect Login")
                                        << QStringLiteral(
                                               "The server rejected the username/password pair you supplied.");
        QTest::newRow("not authorized")
            << QStringLiteral("guest") << QStringLiteral("guest") << QString() << QStringLiteral("Authorization Failed")
            << QStringLiteral("The server reported that you are not authorized to schedule time for this "
                              "microscope.");
        QTest::newRow("unknown login") << QStringLiteral("nobody") << QStringLiteral("secret-pw") << QString()
                                       << QStringLiteral("Scheduling Failed")
                                       << QStringLiteral(
                                              "The server rejected your username as unauthorized for this microscope.");
        QTest::newRow("scheduling ticket request fails")
            << QStringLiteral("demo") << QStringLiteral("orvex-demo") << QStringLiteral("sticket:500")
            << QStringLiteral("Connection Failed") << QStringLiteral("Error contacting the Orvex server.");
        QTest::newRow("reservation request fails")
            << QStringLiteral("demo") << QStringLiteral("orvex-demo") << QStringLiteral("scna:500")
            << QStringLiteral("Connection Failed") << QStringLiteral("Error contacting the Orvex server.");
        QTest::newRow("unknown result code counts as reserved")
            << QStringLiteral("demo") << QStringLiteral("orvex-demo") << QStringLiteral("scna:empty")
            << QStringLiteral("Reserved Scope Time") << QStringLiteral("You have been scheduled for scope time.");
    }

    void reservationRefused()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, fault);
        QFETCH(QString, title);
        QFETCH(QString, text);
        QVERIFY(connectToList());
        if (!fault.isEmpty())
            QVERIFY(server->addFault(fault));
        login(user, password);
        browser->scopeListBox->setCurrentRow(1);
        MessageBoxCatcher catcher;
        browser->reserveButton->click();
        QCOMPARE(catcher.title(), title);
        QCOMPARE(catcher.text(), text);
        for (const QString& target : server->requestLog())
            QVERIFY2(password == user || !target.contains(password), qPrintable(target));
    }

    void valuesCannotAddParameters()
    {
        QVERIFY(connectToList());
        login(QStringLiteral("a&s=other"), QStringLiteral("pw"));
        server->clearLog();
        MessageBoxCatcher catcher;
        browser->reserveButton->click();
        QCOMPARE(catcher.title(), QStringLiteral("Scheduling Failed"));
        const QString target = server->requestLog().value(0);
        QVERIFY2(target.endsWith(QStringLiteral("f=sticket&s=") + server->scopeNames().first() +
                                 QStringLiteral("&l=a%26s%3Dother")),
                 qPrintable(target));
    }

    void sessionTicketRefused_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        const QString failure = QStringLiteral("Error connecting to the Orvex server.  Please contact the server "
                                               "administrator");
        QTest::newRow("unscheduled") << QStringLiteral("demo") << 1 << QString()
                                     << QStringLiteral("User Not Scheduled on Scope \"Orvex-BF-40x\"")
                                     << QStringLiteral("The server reported that you were not scheduled for "
                                                       "access at this time.");
        QTest::newRow("not authorized") << QStringLiteral("guest") << 0 << QString()
                                        << QStringLiteral("Authorization Failed")
                                        << QStringLiteral(
                                               "The server rejected the username and password pair you supplied.");
        QTest::newRow("request fails") << QStringLiteral("demo") << 0 << QStringLiteral("ticket:500")
                                       << QStringLiteral("Connection Failure") << failure;
        QTest::newRow("wrong status") << QStringLiteral("demo") << 0 << QStringLiteral("ticket:status")
                                      << QStringLiteral("Connection Failure") << failure;
    }

    void sessionTicketRefused()
    {
        QFETCH(QString, user);
        QFETCH(int, row);
        QFETCH(QString, fault);
        QFETCH(QString, title);
        QFETCH(QString, text);
        QVERIFY(connectToList());
        QCOMPARE(server->scopeNames().value(1), QStringLiteral("Orvex-BF-40x"));
        if (!fault.isEmpty())
            QVERIFY(server->addFault(fault));
        login(user, user == QLatin1String("demo") ? QStringLiteral("orvex-demo") : user);
        browser->scopeListBox->setCurrentRow(row);
        const QString description = browser->descriptionBox->toPlainText();
        MessageBoxCatcher catcher;
        browser->beginButton->click();
        QCOMPARE(catcher.title(), title);
        QCOMPARE(catcher.text(), text);
        QVERIFY(!openSession());
        // the selection stays frozen until the list is fetched again
        browser->scopeListBox->setCurrentRow(2);
        QCOMPARE(browser->descriptionBox->toPlainText(), description);
    }

    void grantedTicketOpensTheControlWindow()
    {
        QVERIFY(connectToList());
        login(QStringLiteral("demo"), QStringLiteral("orvex-demo"));
        const ScopeRecord first = browser->scopeRecords().first();
        browser->beginButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(openSession() != nullptr, 10000);
        QTRY_VERIFY(browser.isNull());

        Session* session = openSession();
        const SessionInfo& info = session->sessionInfo;
        QCOMPARE(info.host, server->host());
        QCOMPARE(info.scope.name, first.name);
        QCOMPARE(info.scope.slides, first.slides);
        QCOMPARE(info.login, QStringLiteral("demo"));
        QCOMPARE(info.password, QStringLiteral("orvex-demo"));
        QCOMPARE(info.requestPrefix, QStringLiteral("/cgi-bin/oserv?l=demo&s=") + first.name + QStringLiteral("&"));
        QVERIFY(info.ticket != 0);
        QVERIFY(session->windowTitle().startsWith(QStringLiteral("Tessan: Controlling ") + first.name));
        for (const QString& target : server->requestLog())
            QVERIFY2(!target.contains(QStringLiteral("orvex-demo")), qPrintable(target));
    }

    void cancelClosesOnPress()
    {
        QTest::mousePress(browser->cancelButton, Qt::LeftButton);
        QTRY_VERIFY(browser.isNull());
    }
};

QTEST_MAIN(TestScopeBrowser)
#include "tst_scopebrowser.moc"
