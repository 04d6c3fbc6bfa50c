#include "MessageBoxCatcher.h"
#include "SessionHarness.h"
#include "TopLevelWindows.h"

#include "setup/ScopeBrowser.h"
#include "views/HighResPreview.h"
#include "views/LowResPreview.h"
#include "views/VideoWindow.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QSpinBox>
#include <QtTest>

#include <cstdio>
#include <functional>

namespace {

const QStringList faults = {QStringLiteral("refuse"),  QStringLiteral("500"),      QStringLiteral("empty"),
                            QStringLiteral("garbage"), QStringLiteral("cut"),      QStringLiteral("stall"),
                            QStringLiteral("drip"),    QStringLiteral("oversize"), QStringLiteral("status"),
                            QStringLiteral("nul")};

// Faults after which the request has no usable reply at all.
bool transportFault(const QString& fault)
{
    return fault == QLatin1String("refuse") || fault == QLatin1String("500") || fault == QLatin1String("cut") ||
           fault == QLatin1String("stall") || fault == QLatin1String("oversize");
}

// Qt repeats a GET once when the server drops the connection, so those faults
// are armed for two requests.
QString rule(const QString& kind, const QString& fault)
{
    const bool twice = fault == QLatin1String("refuse") || fault == QLatin1String("cut");
    return kind + QLatin1Char(':') + fault + (twice ? QStringLiteral(":2") : QStringLiteral(":1"));
}

struct Cell
{
    QString outcome;
    bool visible = false;
    bool recovered = false;
};

} // namespace

// Every fault of the test server on every request kind the client sends: the
// client must not crash or hang, must show the failure where it reports
// failures, and must be usable again once the server behaves.
class TestFaultMatrix : public QObject
{
    Q_OBJECT

    QMap<QString, QMap<QString, Cell>> table;
    QStringList kindOrder;

    void record(const QString& kind, const QString& fault, const Cell& cell)
    {
        if (!kindOrder.contains(kind))
            kindOrder << kind;
        table[kind][fault] = cell;
    }

    static QString newErrors(const QString& before, const QString& after)
    {
        QStringList found;
        for (const QString& line : after.mid(before.size()).split(QLatin1Char('\n')))
            if (line.startsWith(QStringLiteral("***")))
                found << line.left(qEnvironmentVariableIsSet("TESSAN_MATRIX_FULL") ? 400 : 48);
        return found.join(QStringLiteral(" / "));
    }

    std::unique_ptr<SessionHarness> shared;

    // Requests that only the start of a session sends: the fault is armed
    // and a fresh control window opened on the same ticket.
    static bool sentByBegin(const QString& kind)
    {
        return kind == QLatin1String("d") || kind == QLatin1String("small_slides") ||
               kind == QLatin1String("whole_slides") || kind == QLatin1String("fiducials") ||
               kind == QLatin1String("sl");
    }

    static bool previewsIdle(Session* s) { return !s->lowRes->isBusy() && !s->highRes->isBusy(); }

    // One fault on one session request kind.
    void sessionCell(const QString& kind, const QString& fault)
    {
        if (!shared) {
            shared = std::make_unique<SessionHarness>();
            QVERIFY(shared->start());
        }
        SessionHarness& h = *shared;
        QVERIFY(QTest::qWaitFor([&h] { return previewsIdle(h.session.get()); }, 30000));
        Session* s = h.session.get();
        s->countdownTimer.stop();
        s->frameCountSelector->setValue(3);
        QString before = h.infoText();
        // the test server runs in this thread, and its accurate autofocus
        // renders frames for a few seconds before the first byte leaves
        MyHTTP::setStallTimeoutCap(kind == QLatin1String("r") ? 8000 : 2500);
        QVERIFY(h.server->addFault(rule(kind, fault)));

        MessageBoxCatcher catcher;
        if (sentByBegin(kind)) {
            h.session.reset();
            QVERIFY(h.open(h.info));
            s = h.session.get();
            s->countdownTimer.stop();
            before.clear();
        } else if (kind == QLatin1String("t")) {
            s->remainingSeconds = 31;
            s->tickme();
        } else if (kind == QLatin1String("m")) {
            s->xCoord->setText(QStringLiteral("3"));
            s->frameGrabButton->click();
        } else if (kind == QLatin1String("w")) {
            s->queryCoords();
        } else if (kind == QLatin1String("a")) {
            s->AFButton->click();
        } else if (kind == QLatin1String("r")) {
            s->slowFocusButton->click();
        } else if (kind == QLatin1String("p")) {
            emit s->videoWindow->videoFormatChanged(1);
        } else if (kind == QLatin1String("mb") || kind == QLatin1String("inset")) {
            s->focusStackButton->click();
        } else if (kind == QLatin1String("cj")) {
            s->xCoord->setText(QStringLiteral("10"));
            s->yCoord->setText(QStringLiteral("10"));
            s->PushButton6->click();
            s->xCoord->setText(QStringLiteral("12"));
            s->yCoord->setText(QStringLiteral("12"));
            s->PushButton7->click();
            s->jobNameEdit->setText(QStringLiteral("matrix"));
            s->createJobButton->click();
        }
        QVERIFY(h.settle(30000));
        QVERIFY(QTest::qWaitFor([s] { return previewsIdle(s); }, 30000));

        bool previewFailed = false;
        if (kind == QLatin1String("small_slides"))
            previewFailed = s->lowRes->pictureStatus().isUnavailable();
        else if (kind == QLatin1String("whole_slides"))
            previewFailed = s->highRes->pictureStatus().isUnavailable();
        else if (kind == QLatin1String("fiducials"))
            previewFailed = s->highRes->isCalibrationUnavailable();
        else if (kind == QLatin1String("sl"))
            previewFailed = s->highRes->areMarksUnavailable();

        Cell cell;
        const QString errors = newErrors(before, h.infoText());
        if (!errors.isEmpty())
            cell.outcome = errors;
        else if (previewFailed)
            cell.outcome = QStringLiteral("preview notice");
        else if (catcher.count() > 0)
            cell.outcome = QStringLiteral("box: ") + catcher.titles.last();
        else
            cell.outcome = QStringLiteral("no failure shown");
        cell.visible = !errors.isEmpty() || previewFailed || catcher.count() > 0;

        // Usable again: a move to where the stage stands ends in a frame and
        // releases the controls.
        h.server->clearFaults();
        s->pointToScreen(s->currentCoords);
        s->frameGrabButton->click();
        cell.recovered = h.settle(30000) && h.status() == QLatin1String("Ready.") && h.controlsEnabled();
        if (!cell.recovered)
            shared.reset();
        record(kind, fault, cell);
    }

    void dialogCell(const QString& kind, const QString& fault)
    {
        OrvexServer server;
        QVERIFY(server.listen(0));
        QPointer<ScopeBrowser> browser = new ScopeBrowser;
        browser->hostName->setText(server.host());
        browser->loginBox->setText(QStringLiteral("demo"));
        browser->passwordBox->setText(QStringLiteral("orvex-demo"));
        browser->show();
        const auto listed = [&browser] {
            return browser->connectionStatus->text() == QLatin1String("Connection Successful");
        };
        if (kind != QLatin1String("i")) {
            browser->connectToServer->click();
            QVERIFY(QTest::qWaitFor(listed, 10000));
        }
        QVERIFY(server.addFault(rule(kind, fault)));
        MessageBoxCatcher catcher;
        const int logged = server.requestLog().size();
        if (kind == QLatin1String("i")) {
            browser->connectToServer->click();
        } else if (kind == QLatin1String("ticket")) {
            browser->beginButton->click();
        } else {
            // the second microscope is not reserved yet, so a sound reply would be "+NOW"
            browser->scopeListBox->setCurrentRow(1);
            browser->reserveButton->click();
        }
        // the step ends with a box, a new list, or an open control window
        const auto ended = [&] {
            if (catcher.count() > 0 || browser.isNull())
                return true;
            return kind == QLatin1String("i") && browser->connectionStatus->text() != QLatin1String("Connecting...");
        };
        QVERIFY2(QTest::qWaitFor(ended, 30000), qPrintable(kind + QLatin1Char(' ') + fault));
        QVERIFY(server.requestLog().size() > logged);

        Cell cell;
        if (catcher.count() > 0)
            cell.outcome = QStringLiteral("box: ") + catcher.titles.last();
        else if (browser.isNull())
            cell.outcome = QStringLiteral("session opened");
        else
            cell.outcome =
                QStringLiteral("list: ") + QString::number(browser->scopeListBox->count()) + QStringLiteral(" rows");
        cell.visible = catcher.count() > 0;

        if (!browser.isNull()) {
            server.clearFaults();
            browser->connectToServer->click();
            cell.recovered = QTest::qWaitFor(listed, 10000) && browser->scopeListBox->count() == 3 &&
                             browser->reserveButton->isEnabled();
        } else {
            cell.recovered = true;
        }
        record(kind, fault, cell);
        delete browser.data();
        deleteTopLevelWindows<Session>();
    }

private slots:
    void initTestCase()
    {
        // A stall becomes a failed request after 2.5 s instead of a minute (or ten);
        // the accurate autofocus of the test server answers after 1.5 s.
        MyHTTP::setStallTimeoutCap(2500);
    }

    void dialogRequests_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("fault");
        for (const QString& kind :
             {QStringLiteral("i"), QStringLiteral("sticket"), QStringLiteral("scna"), QStringLiteral("ticket")})
            for (const QString& fault : faults)
                QTest::newRow(qPrintable(kind + QLatin1Char(' ') + fault)) << kind << fault;
    }

    void dialogRequests()
    {
        QFETCH(QString, kind);
        QFETCH(QString, fault);
        dialogCell(kind, fault);
        const Cell cell = table[kind][fault];
        QVERIFY2(cell.recovered, qPrintable(cell.outcome));
        if (transportFault(fault))
            QVERIFY2(cell.visible, qPrintable(cell.outcome));
    }

    void sessionRequests_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("fault");
        const QStringList kinds = {QStringLiteral("d"),
                                   QStringLiteral("t"),
                                   QStringLiteral("m"),
                                   QStringLiteral("w"),
                                   QStringLiteral("a"),
                                   QStringLiteral("r"),
                                   QStringLiteral("p"),
                                   QStringLiteral("mb"),
                                   QStringLiteral("inset"),
                                   QStringLiteral("cj"),
                                   QStringLiteral("small_slides"),
                                   QStringLiteral("whole_slides"),
                                   QStringLiteral("fiducials"),
                                   QStringLiteral("sl")};
        for (const QString& kind : kinds)
            for (const QString& fault : faults)
                QTest::newRow(qPrintable(kind + QLatin1Char(' ') + fault)) << kind << fault;
    }

    void sessionRequests()
    {
        QFETCH(QString, kind);
        QFETCH(QString, fault);
        sessionCell(kind, fault);
        const Cell cell = table[kind][fault];
        QVERIFY2(cell.recovered, qPrintable(cell.outcome));
        if (transportFault(fault))
            QVERIFY2(cell.visible, qPrintable(cell.outcome));
        // a sound reply, only slow, is never reported as a failure
        if (fault == QLatin1String("drip"))
            QVERIFY2(!cell.visible, qPrintable(cell.outcome));
    }

    void cleanupTestCase()
    {
        std::printf("\nFault matrix (kind x fault: what the user sees; ! = not usable again)\n");
        for (const QString& kind : std::as_const(kindOrder))
            for (const QString& fault : faults) {
                const Cell cell = table[kind].value(fault);
                std::printf("%-13s %-9s %s%s\n", qPrintable(kind), qPrintable(fault), cell.recovered ? "" : "! ",
                            qPrintable(cell.outcome));
            }
        std::fflush(stdout);
        shared.reset();
        MyHTTP::setStallTimeoutCap(0);
    }
};

QTEST_MAIN(TestFaultMatrix)
#include "tst_faultmatrix.moc"
