#include "MessageBoxCatcher.h"
#include "SessionHarness.h"

#include "setup/ScopeBrowser.h"
#include "views/HighResPreview.h"
#include "views/LowResPreview.h"
#include "views/VideoWindow.h"

#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QSpinBox>
#include <QtTest>

#include <cstdio>

namespace {

const QStringList faults = {"refuse", "500", "empty", "garbage", "cut", "stall", "drip", "oversize", "status", "nul"};
const QStringList dialogKinds = {"i", "sticket", "scna", "ticket"};
const QStringList sessionKinds = {
    "d", "t", "m", "w", "a", "r", "p", "mb", "inset", "cj", "small_slides", "whole_slides", "fiducials", "sl"};
// Requests only the start of a session sends: a fresh window is opened.
const QStringList beginKinds = {"d", "small_slides", "whole_slides", "fiducials", "sl"};

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
    std::unique_ptr<SessionHarness> shared;

    static bool previewsIdle(Session* s) { return !s->lowRes->isBusy() && !s->highRes->isBusy(); }

    // The new "***" lines of the window's report.
    static QString newErrors(const QString& before, const QString& after)
    {
        QStringList found = after.mid(before.size()).split('\n').filter(QRegularExpression("^\\*\\*\\*"));
        for (QString& line : found)
            line = line.left(48);
        return found.join(QStringLiteral(" / "));
    }

    Cell sessionCell(const QString& kind, const QString& rule)
    {
        if (!shared) {
            shared = std::make_unique<SessionHarness>();
            if (!shared->start())
                return {};
        }
        SessionHarness& h = *shared;
        if (!QTest::qWaitFor([&h] { return previewsIdle(h.session.get()); }, 30000))
            return {QStringLiteral("previews still loading")};
        Session* s = h.session.get();
        s->countdownTimer.stop();
        s->frameCountSelector->setValue(3);
        QString before = h.infoText();
        // the server renders the accurate autofocus for seconds before its first byte
        MyHTTP::setStallTimeoutCap(kind == QLatin1String("r") ? 8000 : 2500);
        h.server->addFault(rule);
        MessageBoxCatcher catcher;
        if (beginKinds.contains(kind)) {
            h.session.reset();
            h.open(h.info);
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
        } else if (kind == QLatin1String("a") || kind == QLatin1String("r")) {
            (kind == QLatin1String("a") ? s->AFButton : s->slowFocusButton)->click();
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
        if (!h.settle(30000) || !QTest::qWaitFor([s] { return previewsIdle(s); }, 30000))
            return {QStringLiteral("hangs")};
        const bool previewFailed =
            (kind == QLatin1String("small_slides") && s->lowRes->pictureStatus().isUnavailable()) ||
            (kind == QLatin1String("whole_slides") && s->highRes->pictureStatus().isUnavailable()) ||
            (kind == QLatin1String("fiducials") && s->highRes->isCalibrationUnavailable()) ||
            (kind == QLatin1String("sl") && s->highRes->areMarksUnavailable());
        Cell cell;
        const QString errors = newErrors(before, h.infoText());
        cell.outcome = !errors.isEmpty()     ? errors
                       : previewFailed       ? QStringLiteral("preview notice")
                       : catcher.count() > 0 ? "box: " + catcher.titles.last()
                                             : QStringLiteral("no failure shown");
        cell.visible = !errors.isEmpty() || previewFailed || catcher.count() > 0;
        // usable again: a move to where the stage stands ends in a frame and releases the controls
        h.server->clearFaults();
        s->pointToScreen(s->currentCoords);
        s->frameGrabButton->click();
        cell.recovered = h.settle(30000) && h.status() == QLatin1String("Ready.") && h.controlsEnabled();
        if (!cell.recovered)
            shared.reset();
        return cell;
    }

    Cell dialogCell(const QString& kind, const QString& rule)
    {
        // a stall becomes a failed request after 2.5 s instead of a minute
        MyHTTP::setStallTimeoutCap(2500);
        OrvexServer server;
        server.listen(0);
        QPointer<ScopeBrowser> browser = new ScopeBrowser;
        browser->hostName->setText(server.host());
        browser->loginBox->setText(QStringLiteral("demo"));
        browser->passwordBox->setText(QStringLiteral("orvex-demo"));
        browser->show();
        const auto listed = [&browser] { return browser->connectionStatus->text() == "Connection Successful"; };
        if (kind != QLatin1String("i")) {
            browser->connectToServer->click();
            if (!QTest::qWaitFor(listed, 10000))
                return {QStringLiteral("no list before the fault")};
        }
        server.addFault(rule);
        MessageBoxCatcher catcher;
        if (kind == QLatin1String("i")) {
            browser->connectToServer->click();
        } else if (kind == QLatin1String("ticket")) {
            browser->beginButton->click();
        } else {
            // the second microscope is not reserved yet: a sound reply would be "+NOW"
            browser->scopeListBox->setCurrentRow(1);
            browser->reserveButton->click();
        }
        // the step ends with a box, a new list, or an open control window
        const bool ended = QTest::qWaitFor(
            [&] {
                return catcher.count() > 0 || browser.isNull() ||
                       (kind == QLatin1String("i") && browser->connectionStatus->text() != "Connecting...");
            },
            30000);
        Cell cell;
        cell.visible = catcher.count() > 0;
        cell.outcome = cell.visible       ? "box: " + catcher.titles.last()
                       : browser.isNull() ? QStringLiteral("session opened")
                                          : QStringLiteral("list: %1 rows").arg(browser->scopeListBox->count());
        cell.recovered = ended;
        if (ended && !browser.isNull()) {
            server.clearFaults();
            browser->connectToServer->click();
            cell.recovered = QTest::qWaitFor(listed, 10000) && browser->scopeListBox->count() == 3 &&
                             browser->reserveButton->isEnabled();
        }
        delete browser.data();
        while (Session* session = topLevelWindow<Session>())
            delete session;
        return cell;
    }

private slots:
    void cells_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("fault");
        for (const QString& kind : dialogKinds + sessionKinds)
            for (const QString& fault : faults)
                QTest::addRow("%s %s", qPrintable(kind), qPrintable(fault)) << kind << fault;
    }

    void cells()
    {
        QFETCH(QString, kind);
        QFETCH(QString, fault);
        // Qt repeats a GET once when the server drops the connection: those faults strike twice
        const QString rule = kind + ':' + fault + (fault == "refuse" || fault == "cut" ? ":2" : ":1");
        const Cell cell = dialogKinds.contains(kind) ? dialogCell(kind, rule) : sessionCell(kind, rule);
        table[kind][fault] = cell;
        QVERIFY2(cell.recovered, qPrintable(cell.outcome));
        // a transport failure is always reported; a sound but slow reply never is
        if (QStringList{"refuse", "500", "cut", "stall", "oversize"}.contains(fault))
            QVERIFY2(cell.visible, qPrintable(cell.outcome));
        if (fault == QLatin1String("drip") && !dialogKinds.contains(kind))
            QVERIFY2(!cell.visible, qPrintable(cell.outcome));
    }

    void cleanupTestCase()
    {
        std::printf("\nFault matrix (kind x fault: what the user sees; ! = not usable again)\n");
        for (auto kind = table.cbegin(); kind != table.cend(); ++kind)
            for (auto cell = kind->cbegin(); cell != kind->cend(); ++cell)
                std::printf("%-13s %-9s %s%s\n", qPrintable(kind.key()), qPrintable(cell.key()),
                            cell->recovered ? "" : "! ", qPrintable(cell->outcome));
        std::fflush(stdout);
        shared.reset();
        MyHTTP::setStallTimeoutCap(0);
    }
};

QTEST_MAIN(TestFaultMatrix)
#include "tst_faultmatrix.moc"
