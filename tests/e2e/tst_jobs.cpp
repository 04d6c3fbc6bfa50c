#include "MessageBoxCatcher.h"
#include "SessionHarness.h"

#include "views/HighResPreview.h"

#include <QSpinBox>
#include <QtTest>

// Acquisition jobs: the corners, the count of sampling points and the job
// request, against the test server.
class TestJobs : public QObject
{
    Q_OBJECT

    SessionHarness h;

    // Sets a corner by typing its place and pressing its button; returns the total shown.
    QString corner(QPushButton* button, const QString& x, const QString& y)
    {
        h.session->xCoord->setText(x);
        h.session->yCoord->setText(y);
        button->click();
        return h.session->totalBox->text();
    }
    QString topLeft(const QString& x, const QString& y) { return corner(h.session->PushButton6, x, y); }
    QString bottomRight(const QString& x, const QString& y) { return corner(h.session->PushButton7, x, y); }

private slots:
    void initTestCase() { QVERIFY(h.start()); }

    void init()
    {
        h.session->handleJobReset();
        h.session->densityBox->setValue(1);
        h.server->clearLog();
    }

    void cleanupTestCase()
    {
        QVERIFY(h.passwordNeverSent());
        h.session.reset();
        h.server.reset();
    }

    void counts()
    {
        Session* s = h.session.get();
        QCOMPARE(topLeft("10", "10"), QStringLiteral("0"));
        QCOMPARE(bottomRight("12", "12"), QStringLiteral("4"));
        QVERIFY(s->highRes->corner1Set && s->highRes->corner2Set);
        s->densityBox->setValue(10);
        QCOMPARE(s->totalBox->text(), QStringLiteral("400"));
        QCOMPARE(s->highRes->density(), 10);
        // a first corner beyond the second is refused: (0, 0) is in force
        s->densityBox->setValue(1);
        QCOMPARE(topLeft("13", "13"), QStringLiteral("144"));
        QCOMPARE(s->jobTopLeft.x, 0.f);
        // a refused second corner leaves nothing to sample
        QCOMPARE(bottomRight("0", "12"), QStringLiteral("0"));
        QCOMPARE(s->jobBottomRight.x, 0.f);
        // a second corner alone counts from the stage origin
        s->handleJobReset();
        QVERIFY(!s->highRes->corner1Set && !s->highRes->corner2Set);
        QCOMPARE(s->totalBox->text(), QStringLiteral("0"));
        QCOMPARE(bottomRight("37.835", "25.1625"), QStringLiteral("988"));
    }

    void createJob_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("accepted") << "  liver a&b#2  " << QString() << "Job   liver a&b#2   submitted.";
        QTest::newRow("unreachable") << "kidney"
                                     << "cj:refuse:4"
                                     << "***Job kidney was not accepted: the server could not be reached.";
        QTest::newRow("wrong token") << "kidney"
                                     << "key"
                                     << "***Job kidney was not accepted: ";
        QTest::newRow("blank name") << "   " << QString() << "You must enter a name for your job.";
        QTest::newRow("nothing to sample") << "empty" << QString() << QString();
    }

    void createJob()
    {
        QFETCH(QString, name);
        QFETCH(QString, fault);
        QFETCH(QString, outcome);
        Session* s = h.session.get();
        const bool empty = outcome.isEmpty();
        topLeft("10.5", "20.25");
        bottomRight(empty ? "10.5" : "12", empty ? "20.25" : "22.5");
        s->densityBox->setValue(2);
        if (fault == QLatin1String("key"))
            s->auth.setKey(QStringLiteral("not the password"));
        else if (!fault.isEmpty())
            QVERIFY(h.server->addFault(fault));
        s->jobNameEdit->setText(name);
        MessageBoxCatcher catcher;
        s->createJobButton->click();
        QVERIFY(h.settle());
        s->auth.setKey(h.info.password);
        const QStringList sent = h.requests(h.info.requestPrefix + "f=cj&auth=");
        if (name.trimmed().isEmpty() || empty) {
            // nothing sent, the selection kept
            QVERIFY(h.requests("f=cj").isEmpty());
            QCOMPARE(catcher.count(), empty ? 0 : 1);
            if (!empty) {
                QCOMPARE(catcher.title(), QStringLiteral("Error: Cannot create job."));
                QCOMPARE(catcher.text(), outcome);
                QCOMPARE(s->totalBox->text(), QStringLiteral("15"));
            }
            return;
        }
        QVERIFY(!sent.isEmpty());
        QVERIFY2(sent[0].endsWith("&ld=2&tlx=105000.0000&tly=202500.0000&brx=120000.0000&bry=225000.0000&n=" +
                                  OrvexUrl::encode(name)),
                 qPrintable(sent[0]));
        QVERIFY2(h.infoText().contains(outcome), qPrintable(h.infoText().right(300)));
        if (fault.isEmpty()) {
            QCOMPARE(h.server->jobs().size(), 1);
            QVERIFY(h.server->jobs().last().contains(name));
            // the selection is reset for the next job
            QCOMPARE(s->jobNameEdit->text(), QString());
            QCOMPARE(s->totalBox->text(), QStringLiteral("0"));
            QVERIFY(!s->highRes->corner1Set && !s->highRes->corner2Set);
        } else {
            // the message carries what is needed to submit again
            QVERIFY(h.infoText().contains("(10.5000, 20.2500) mm and (12.0000, 22.5000) mm, 2 samples / mm"));
        }
    }
};

QTEST_MAIN(TestJobs)
#include "tst_jobs.moc"
