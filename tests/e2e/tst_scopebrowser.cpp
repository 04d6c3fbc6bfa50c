#include "MessageBoxCatcher.h"
#include "RefusedDraw.h"
#include "SessionHarness.h"

#include "setup/ScopeBrowser.h"
#include "views/HighResPreview.h"
#include "views/LowResPreview.h"

#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTextEdit>
#include <QtTest>

// Waits end as soon as their condition holds; the limit only has to outlast
// a machine busy with other builds and tests.
static constexpr int patience = 30000;

// The setup dialog against the in-process test server: the microscope list,
// reservations, session tickets and the hand-over to the control window.
class TestScopeBrowser : public QObject
{
    Q_OBJECT

    std::unique_ptr<OrvexServer> server;
    QPointer<ScopeBrowser> browser;
    QStringList log; // every request target the server received

    bool listed()
    {
        browser->connectToServer->click();
        return QTest::qWaitFor([this] { return browser->connectionStatus->text() == "Connection Successful"; },
                               patience);
    }

    void login(const QString& user, const QString& password, int row = 0)
    {
        browser->loginBox->setText(user);
        browser->passwordBox->setText(password);
        browser->scopeListBox->setCurrentRow(row);
    }

    QStringList slides() const
    {
        QStringList names;
        for (int i = 0; i < browser->slideList->count(); ++i)
            names << browser->slideList->item(i)->text();
        return names;
    }

private slots:
    void init()
    {
        server = std::make_unique<OrvexServer>();
        log.clear();
        connect(server.get(), &OrvexServer::requestReceived, this, [this](const QString& target) { log << target; });
        QVERIFY(server->listen(0));
        browser = new ScopeBrowser;
        QCOMPARE(browser->hostName->text(), QStringLiteral("localhost:8642"));
        browser->hostName->setText(server->host());
        browser->show();
    }

    void cleanup()
    {
        delete browser.data();
        while (Session* session = topLevelWindow<Session>())
            delete session;
        server.reset();
    }

    void listAndSelection()
    {
        QVERIFY(listed());
        const QStringList names = server->scopeNames();
        QStringList rows;
        for (int row = 0; row < browser->scopeListBox->count(); ++row)
            rows << browser->scopeListBox->item(row)->text();
        QCOMPARE(rows, names);
        QVERIFY(browser->bannerBox->toPlainText().startsWith(QStringLiteral("Orvex test server")));
        // row 0 is selected and described, both actions open
        QCOMPARE(browser->scopeListBox->currentRow(), 0);
        QVERIFY(!browser->descriptionBox->toPlainText().isEmpty());
        QCOMPARE(slides(), server->slidesOf(names.first()));
        QCOMPARE(std::pair(browser->reserveButton->isEnabled(), browser->beginButton->isEnabled()),
                 std::pair(true, true));
        // the third microscope is marked "$": no control while it is selected
        QVERIFY(browser->scopeRecords().at(2).controlLocked);
        browser->scopeListBox->setCurrentRow(2);
        QVERIFY(!browser->beginButton->isEnabled());
        QCOMPARE(slides(), server->slidesOf(names.at(2)));
        browser->scopeListBox->setCurrentRow(0);
        QVERIFY(browser->beginButton->isEnabled());

        // "Connect" while the list is on its way is ignored, and the selection frozen
        QVERIFY(server->addFault(QStringLiteral("i:stall")));
        log.clear();
        browser->connectToServer->click();
        QCOMPARE(browser->connectionStatus->text(), QStringLiteral("Connecting..."));
        QCOMPARE(browser->scopeListBox->count(), 0);
        QVERIFY(!browser->reserveButton->isEnabled());
        browser->connectToServer->click();
        QTRY_COMPARE_WITH_TIMEOUT(log.size(), 1, patience);
        // a second request would have arrived by the time the time request did
        MyHTTP probe;
        QSignalSpy done(&probe, qOverload<>(&MyHTTP::done));
        probe.setUrl(OrvexUrl::scopeList(server->host()).replace("f=i", "f=t"));
        probe.start();
        QVERIFY(done.wait(5000));
        QCOMPARE(log.filter("f=i").size(), 1);
        QVERIFY(browser->isSelectionFrozen());
    }

    // Server text is shown, never acted on: markup in the banner stays text, a
    // description reads no local file and an enormous word cannot freeze the layout.
    void serverTextShownInertly()
    {
        QTemporaryDir dir;
        QImage local(50, 50, QImage::Format_RGB32);
        local.fill(Qt::red);
        const QUrl file = QUrl::fromLocalFile(dir.filePath(QStringLiteral("local.png")));
        QVERIFY(local.save(file.toLocalFile()));
        server->setBanner(QStringLiteral("<b>bold</b> &amp;\n"));
        server->addScope(QStringLiteral("inert"), false,
                         "<img src=\"" + file.toString() + "\"><a href=\"" + file.toString() + "\">link</a> " +
                             QString(1 << 18, QLatin1Char('w')),
                         {QStringLiteral("s")});
        QVERIFY(listed());
        QCOMPARE(browser->bannerBox->toPlainText(), QStringLiteral("<b>bold</b> &amp;"));
        browser->scopeListBox->setCurrentRow(browser->scopeListBox->count() - 1);
        browser->descriptionBox->grab();
        QVERIFY(browser->descriptionBox->toPlainText().contains(QStringLiteral("link ")));
        const QImage shown =
            browser->descriptionBox->document()->resource(QTextDocument::ImageResource, file).value<QImage>();
        QVERIFY(shown.width() < 50);
    }

    void listFailures_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("host");
        QTest::newRow("500") << QStringLiteral("i:500") << QString();
        QTest::newRow("refused") << QStringLiteral("i:refuse:4") << QString();
        QTest::newRow("cut short") << QStringLiteral("i:cut:4") << QString();
        QTest::newRow("host that forms no URL") << QString() << QStringLiteral("bad host name:port");
        QTest::newRow("no entries") << QStringLiteral("i:empty") << QString();
    }

    void listFailures()
    {
        QFETCH(QString, fault);
        QFETCH(QString, host);
        if (!fault.isEmpty())
            QVERIFY(server->addFault(fault));
        if (!host.isEmpty())
            browser->hostName->setText(host);
        MessageBoxCatcher catcher;
        browser->connectToServer->click();
        QTRY_VERIFY_WITH_TIMEOUT(browser->connectionStatus->text() != QStringLiteral("Connecting..."), patience);
        QCOMPARE(browser->scopeListBox->count(), 0);
        QCOMPARE(std::pair(browser->reserveButton->isEnabled(), browser->beginButton->isEnabled()),
                 std::pair(false, false));
        QVERIFY(browser->isSelectionFrozen());
        if (fault == QLatin1String("i:empty")) {
            // an empty list is no failure: no box
            QCOMPARE(browser->connectionStatus->text(), QStringLiteral("Connection Successful"));
            QCOMPARE(catcher.count(), 0);
            return;
        }
        QCOMPARE(browser->connectionStatus->text(), QStringLiteral("Connection Failed."));
        QCOMPARE(catcher.titles, QStringList{QStringLiteral("Connection Failed")});
        QCOMPARE(catcher.text(), QStringLiteral("No Orvex server could be found at the given hostname"));
        // the host is selected for retyping
        QCOMPARE(browser->hostName->selectedText(), browser->hostName->text());
    }

    void reservation()
    {
        QVERIFY(listed());
        login(QStringLiteral("demo"), QStringLiteral("orvex-demo"), 1);
        log.clear();
        MessageBoxCatcher catcher;
        browser->reserveButton->click();
        QCOMPARE(catcher.title(), QStringLiteral("Scheduling Successful"));
        QCOMPARE(catcher.text(), QStringLiteral("You are now scheduled for scope time.  You may click \"Control "
                                                "Scope\" to begin using the microscope."));
        // the list is fetched again and the reserved row selected
        QTRY_COMPARE_WITH_TIMEOUT(log.filter("f=i").size(), 1, patience);
        QTRY_COMPARE_WITH_TIMEOUT(browser->connectionStatus->text(), QStringLiteral("Connection Successful"), patience);
        QCOMPARE(browser->scopeListBox->currentRow(), 1);
        QCOMPARE(slides(), server->slidesOf(server->scopeNames().at(1)));
        QCOMPARE(std::pair(browser->reserveButton->isEnabled(), browser->beginButton->isEnabled()),
                 std::pair(true, true));
        QCOMPARE(log.filter("auth=").size(), 1);

        browser->reserveButton->click();
        QVERIFY(catcher.waitFor(2));
        QCOMPARE(catcher.title(), QStringLiteral("Authorization Failed"));
        QCOMPARE(catcher.text(), QStringLiteral("You cannot schedule more than one entry at a time."));
        QVERIFY(log.filter("orvex-demo").isEmpty());
    }

    void refusals_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        const auto row = [](const char* tag, const char* user, const char* password, const char* fault,
                            const char* title, const char* text) {
            QTest::newRow(tag) << QString(user) << QString(password) << QString(fault) << QString(title)
                               << QString(text);
        };
        const char* contact = "Error contacting the Orvex server.";
        row("wrong password", "demo", "not-it", "", "Incorrect Login",
            "The server rejected the username/password pair you supplied.");
        row("not authorized", "guest", "guest", "", "Authorization Failed",
            "The server reported that you are not authorized to schedule time for this microscope.");
        row("unknown login", "nobody", "secret-pw", "", "Scheduling Failed",
            "The server rejected your username as unauthorized for this microscope.");
        row("ticket request fails", "demo", "orvex-demo", "sticket:500", "Connection Failed", contact);
        row("reservation fails", "demo", "orvex-demo", "scna:500", "Connection Failed", contact);
        row("unknown result counts as reserved", "demo", "orvex-demo", "scna:empty", "Reserved Scope Time",
            "You have been scheduled for scope time.");
        // the session ticket ("+"), "+1" on the second microscope, where demo holds no time
        const char* failure = "Error connecting to the Orvex server.  Please contact the server administrator";
        row("unscheduled", "demo", "orvex-demo", "+1", "User Not Scheduled on Scope \"Orvex-BF-40x\"",
            "The server reported that you were not scheduled for access at this time.");
        row("session not authorized", "guest", "guest", "+", "Authorization Failed",
            "The server rejected the username and password pair you supplied.");
        row("session request fails", "demo", "orvex-demo", "+ticket:500", "Connection Failure", failure);
        row("wrong status", "demo", "orvex-demo", "+ticket:status", "Connection Failure", failure);
    }

    void refusals()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, fault);
        QVERIFY(listed());
        const bool control = fault.startsWith(QLatin1Char('+'));
        const QString rule = control ? fault.mid(1) : fault;
        if (rule.contains(QLatin1Char(':')))
            QVERIFY(server->addFault(rule));
        login(user, password, control && rule != QLatin1String("1") ? 0 : 1);
        const QString description = browser->descriptionBox->toPlainText();
        if (user == QLatin1String("demo") && password != QLatin1String("orvex-demo"))
            browser->loginSteps()->setDrawSource([draw = refusedDraw(password, "orvex-demo")] { return draw; });
        MessageBoxCatcher catcher;
        (control ? browser->beginButton : browser->reserveButton)->click();
        QTEST(catcher.title(), "title");
        QTEST(catcher.text(), "text");
        QCOMPARE(catcher.count(), 1);
        QVERIFY(!topLevelWindow<Session>());
        QVERIFY(password == user || log.filter(password).isEmpty());
        if (control) {
            // the selection stays frozen until the list is fetched again
            browser->scopeListBox->setCurrentRow(2);
            QCOMPARE(browser->descriptionBox->toPlainText(), description);
        }
    }

    void grantedTicketOpensTheControlWindow_data()
    {
        QTest::addColumn<QString>("scope");
        QTest::addColumn<QString>("login");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("prefix");
        QTest::newRow("plain") << QString() << "demo"
                               << "orvex-demo"
                               << "/cgi-bin/oserv?l=demo&s=Orvex-BF-20x&";
        // the server lists Latin-1 and compares bytes, as a CGI program does
        QTest::newRow("beyond ASCII") << QStringLiteral("zeta-\u00e4 & #1") << QStringLiteral("j\u00fcrgen")
                                      << QStringLiteral("p\u00e4ss")
                                      << "/cgi-bin/oserv?l=j%FCrgen&s=zeta-%E4%20%26%20%231&";
    }

    void grantedTicketOpensTheControlWindow()
    {
        QFETCH(QString, scope);
        QFETCH(QString, login);
        QFETCH(QString, password);
        if (!scope.isEmpty()) {
            server->addScope(scope, false, QStringLiteral("<p>odd names</p>"), {QStringLiteral("gewebe-\u00fc&1")});
            server->addAccount(login, password);
            server->authorize(login, scope);
            server->schedule(login, scope);
        }
        QVERIFY(listed());
        this->login(login, password, scope.isEmpty() ? 0 : browser->scopeListBox->count() - 1);
        const ScopeRecord first = browser->scopeRecords().value(browser->scopeListBox->currentRow());
        // a double click opens one session
        browser->beginButton->click();
        browser->beginButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(topLevelWindow<Session>(), patience);
        QTRY_VERIFY_WITH_TIMEOUT(browser.isNull(), patience);
        QCOMPARE(log.filter("f=ticket").size(), 1);
        const QWidgetList windows = QApplication::topLevelWidgets();
        QCOMPARE(std::count_if(windows.cbegin(), windows.cend(), [](QWidget* w) { return qobject_cast<Session*>(w); }),
                 1);
        Session* session = topLevelWindow<Session>();
        const SessionInfo& info = session->sessionInfo;
        QFETCH(QString, prefix);
        QCOMPARE(QStringList({info.host, info.scope.name, info.login, info.password, info.requestPrefix}),
                 QStringList({server->host(), first.name, login, password, prefix}));
        QCOMPARE(info.scope.slides, first.slides);
        // the server accepts the tokens made from the ticket read
        QTRY_COMPARE_WITH_TIMEOUT(topLevelWindow<Session>()->statusBar()->currentMessage(), QStringLiteral("Ready."),
                                  patience);
        QTRY_COMPARE_WITH_TIMEOUT(topLevelWindow<Session>()->currentCoords.x, server->stagePosition(first.name).x(),
                                  patience);
        // the slide's pictures, fiducials and marks are found under the listed bytes
        QVERIFY(
            QTest::qWaitFor([session] { return !session->lowRes->isBusy() && !session->highRes->isBusy(); }, patience));
        QVERIFY(!session->lowRes->pictureStatus().isUnavailable());
        QVERIFY(!session->highRes->pictureStatus().isUnavailable());
        QVERIFY(!session->highRes->isCalibrationUnavailable());
        QVERIFY(!session->highRes->basePicture().isNull());
        QCOMPARE(log.filter(password) + log.filter("%C3"), QStringList());
    }

    void cancelClosesOnPress()
    {
        QTest::mousePress(browser->cancelButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(browser.isNull(), patience);
    }
};

QTEST_MAIN(TestScopeBrowser)
#include "tst_scopebrowser.moc"
