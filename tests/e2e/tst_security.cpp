#include "MessageBoxCatcher.h"
#include "TopLevelWindows.h"

#include "net/OrvexUrl.h"
#include "session/Session.h"
#include "setup/ScopeBrowser.h"
#include "sim/OrvexServer.h"
#include "views/HighResPreview.h"
#include "views/LowResPreview.h"

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTextBrowser>
#include <QTextEdit>
#include <QUrl>
#include <QtTest>

#include <memory>

// What a user or a server can put into names and texts: characters that mean
// something in a URL, letters beyond ASCII, markup and sheer size.
class TestSecurity : public QObject
{
    Q_OBJECT

    std::unique_ptr<OrvexServer> server;
    QPointer<ScopeBrowser> browser;

    bool listed()
    {
        browser->connectToServer->click();
        return QTest::qWaitFor(
            [this] { return browser->connectionStatus->text() == QLatin1String("Connection Successful"); }, 10000);
    }

    int rowOf(const QString& name) const
    {
        for (int row = 0; row < browser->scopeListBox->count(); ++row)
            if (browser->scopeListBox->item(row)->text() == name)
                return row;
        return -1;
    }

    static Session* openSession() { return topLevelWindow<Session>(); }

    void passwordNeverSent(const QString& password)
    {
        const QString encoded = QString::fromLatin1(QUrl::toPercentEncoding(password));
        for (const QString& target : server->requestLog()) {
            QVERIFY2(!target.contains(password), qPrintable(target));
            QVERIFY2(!target.contains(encoded), qPrintable(target));
        }
    }

private slots:
    void init()
    {
        server = std::make_unique<OrvexServer>();
        QVERIFY(server->listen(0));
        browser = new ScopeBrowser;
        browser->hostName->setText(server->host());
        browser->show();
    }

    void cleanup()
    {
        delete browser.data();
        deleteTopLevelWindows<Session>();
        server.reset();
    }

    void namesRoundTrip()
    {
        const QString scope = QStringLiteral("Scope & #1 = 100% ?\u00e4");
        const QString slide = QStringLiteral("tissue&1%2B?\u00e4");
        const QString login = QStringLiteral("anna & co=\u00f6");
        const QString password = QStringLiteral("p\u00e4ss w&rd=1");
        server->addScope(scope, false, QStringLiteral("<p>odd names</p>"), {slide});
        server->addAccount(login, password);
        server->authorize(login, scope);

        QVERIFY(listed());
        const int row = rowOf(scope);
        QVERIFY(row >= 0);
        browser->scopeListBox->setCurrentRow(row);
        QCOMPARE(browser->slideList->item(0)->text(), slide);
        browser->loginBox->setText(login);
        browser->passwordBox->setText(password);
        {
            MessageBoxCatcher catcher;
            browser->reserveButton->click();
            QCOMPARE(catcher.title(), QStringLiteral("Scheduling Successful"));
        }
        QTRY_COMPARE(browser->scopeListBox->currentRow(), row);
        browser->beginButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(openSession() != nullptr, 10000);
        Session* session = openSession();
        QCOMPARE(session->sessionInfo.scope.name, scope);
        QCOMPARE(session->sessionInfo.login, login);

        // the slide pictures are found under their decoded name
        QVERIFY(
            QTest::qWaitFor([session] { return !session->lowRes->isBusy() && !session->highRes->isBusy(); }, 30000));
        QVERIFY(!session->lowRes->pictureStatus().isUnavailable());
        QVERIFY(!session->highRes->pictureStatus().isUnavailable());
        QVERIFY(!session->highRes->isCalibrationUnavailable());

        // and so is a job name with the same characters
        session->xCoord->setText(QStringLiteral("10"));
        session->yCoord->setText(QStringLiteral("10"));
        session->PushButton6->click();
        session->xCoord->setText(QStringLiteral("11"));
        session->yCoord->setText(QStringLiteral("11"));
        session->PushButton7->click();
        const QString job = QStringLiteral("a&b #1 50% \u00e4");
        session->jobNameEdit->setText(job);
        session->createJobButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(!server->jobs().isEmpty(), 10000);
        QVERIFY2(server->jobs().last().contains(job), qPrintable(server->jobs().last()));
        passwordNeverSent(password);
        // The server compares bytes: every name went back as the Latin-1 bytes it listed.
        const QStringList log = server->requestLog();
        QVERIFY(log.filter(QStringLiteral("%C3%A4")).isEmpty() && log.filter(QStringLiteral("%C3%B6")).isEmpty());
        QVERIFY(!log.filter(QStringLiteral("/whole_slides/tissue%261%252B%3F%E4")).isEmpty());
    }

    void urlsCarryTheListedBytes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("encoded");
        QTest::newRow("plain") << QStringLiteral("Orvex-BF-20x.1_~") << QStringLiteral("Orvex-BF-20x.1_~");
        QTest::newRow("latin-1") << QStringLiteral("zeta-\u00e4") << QStringLiteral("zeta-%E4");
        QTest::newRow("url characters") << QStringLiteral("a&b=c d#%") << QStringLiteral("a%26b%3Dc%20d%23%25");
        QTest::newRow("beyond latin-1") << QStringLiteral("\u0430\u00e4") << QStringLiteral("%D0%B0%C3%A4");
    }

    void urlsCarryTheListedBytes()
    {
        QFETCH(QString, name);
        QFETCH(QString, encoded);
        QCOMPARE(OrvexUrl::encode(name), encoded);
        QCOMPARE(OrvexUrl::requestPrefix(name, name),
                 QStringLiteral("/cgi-bin/oserv?l=") + encoded + QStringLiteral("&s=") + encoded + QLatin1Char('&'));
    }

    void serverTextIsShownInertly()
    {
        const QString script = QStringLiteral("<script>alert('x')</script><b>bold</b>");
        server->setBanner(script + QStringLiteral("\n"));
        QString description = QStringLiteral("<img src=\"/dev/zero\"><img src=\"file:///etc/hostname\">"
                                             "<a href=\"file:///etc/hostname\">link</a>");
        description += QString(256 * 1024, QLatin1Char('w'));
        server->addScope(QStringLiteral("Hostile"), false, description, {QStringLiteral("s1")});
        server->addScope(QString(20000, QLatin1Char('n')), false, QStringLiteral("long name"),
                         {QString(20000, QLatin1Char('s'))});

        QVERIFY(listed());
        QCOMPARE(browser->bannerBox->toPlainText(), script);
        const int row = rowOf(QStringLiteral("Hostile"));
        QVERIFY(row >= 0);
        browser->scopeListBox->setCurrentRow(row);
        QVERIFY(browser->descriptionBox->toPlainText().size() > 256 * 1024);
        // a device named by a picture would be read for ever; nothing local is read at all
        const QVariant picture = browser->descriptionBox->loadResource(QTextDocument::ImageResource,
                                                                       QUrl(QStringLiteral("file:///etc/hostname")));
        QCOMPARE(picture.value<QImage>().size(), QSize(1, 1));
        QVERIFY(!browser->descriptionBox->openLinks());
        QVERIFY(browser->descriptionBox->source().isEmpty());

        // enormous words are kept whole, and the window stays responsive
        const int longRow = rowOf(QString(20000, QLatin1Char('n')));
        QVERIFY(longRow >= 0);
        browser->scopeListBox->setCurrentRow(longRow);
        QCOMPARE(browser->slideList->item(0)->text().size(), 20000);
        browser->grab();
    }
};

QTEST_MAIN(TestSecurity)
#include "tst_security.moc"
