#include "SessionHarness.h"

#include "MessageBoxCatcher.h"
#include "views/HighResPreview.h"

#include <QSpinBox>
#include <QtTest>

class TestJobs : public QObject
{
    Q_OBJECT

private:
    SessionHarness h;

    void corner(QPushButton* button, const QString& x, const QString& y)
    {
        h.session->xCoord->setText(x);
        h.session->yCoord->setText(y);
        button->click();
    }
    void topLeft(const QString& x, const QString& y) { corner(h.session->PushButton6, x, y); }
    void bottomRight(const QString& x, const QString& y) { corner(h.session->PushButton7, x, y); }
    QString total() const { return h.session->totalBox->text(); }

private slots:
    void initTestCase() { QVERIFY(h.start()); }

    void init()
    {
        h.session->handleJobReset();
        h.session->densityBox->setValue(1);
        h.session->jobNameEdit->clear();
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
        topLeft(QStringLiteral("10"), QStringLiteral("10"));
        QCOMPARE(total(), QStringLiteral("0"));
        bottomRight(QStringLiteral("12"), QStringLiteral("12"));
        QCOMPARE(total(), QStringLiteral("4"));
        QVERIFY(h.session->highRes->corner1Set && h.session->highRes->corner2Set);
        h.session->densityBox->setValue(10);
        QCOMPARE(total(), QStringLiteral("400"));

        h.session->densityBox->setValue(2);
        bottomRight(QStringLiteral("10.5"), QStringLiteral("12.25"));
        QCOMPARE(total(), QStringLiteral("5"));

        // A second corner alone counts from the stage origin.
        h.session->handleJobReset();
        h.session->densityBox->setValue(1);
        bottomRight(QStringLiteral("37.835"), QStringLiteral("25.1625"));
        QCOMPARE(total(), QStringLiteral("988"));
        QVERIFY(!h.session->highRes->corner1Set);

        // Equal corners: nothing to sample, and "Create Job" sends nothing.
        h.session->handleJobReset();
        topLeft(QStringLiteral("11"), QStringLiteral("11"));
        bottomRight(QStringLiteral("11"), QStringLiteral("11"));
        QCOMPARE(total(), QStringLiteral("0"));
        h.session->jobNameEdit->setText(QStringLiteral("empty"));
        h.session->createJobButton->click();
        QVERIFY(h.settle());
        QVERIFY(h.requests(QStringLiteral("f=cj")).isEmpty());
    }

    void refusedCornerKeepsCountAndSelectionTogether()
    {
        topLeft(QStringLiteral("10"), QStringLiteral("10"));
        bottomRight(QStringLiteral("12"), QStringLiteral("12"));
        QCOMPARE(total(), QStringLiteral("4"));
        // A first corner beyond the second is refused: (0, 0) is now in force,
        // and the count and the preview follow it.
        topLeft(QStringLiteral("13"), QStringLiteral("13"));
        QCOMPARE(h.session->jobTopLeft.x, 0.f);
        QCOMPARE(total(), QStringLiteral("144"));
        QVERIFY(h.session->highRes->corner1Set);

        // A refused second corner likewise leaves nothing to sample.
        h.session->handleJobReset();
        topLeft(QStringLiteral("10"), QStringLiteral("10"));
        bottomRight(QStringLiteral("12"), QStringLiteral("12"));
        bottomRight(QStringLiteral("9"), QStringLiteral("12"));
        QCOMPARE(h.session->jobBottomRight.x, 0.f);
        QCOMPARE(total(), QStringLiteral("0"));
    }

    void acceptedJob()
    {
        topLeft(QStringLiteral("10.5"), QStringLiteral("20.25"));
        bottomRight(QStringLiteral("12"), QStringLiteral("22.5"));
        h.session->densityBox->setValue(2);
        h.session->jobNameEdit->setText(QStringLiteral("  liver a&b#2  "));
        h.session->createJobButton->click();

        QCOMPARE(h.session->jobNameEdit->text(), QString());
        QCOMPARE(total(), QStringLiteral("0"));
        QVERIFY(!h.session->highRes->corner1Set && !h.session->highRes->corner2Set);
        QVERIFY(h.settle());

        const QStringList sent = h.requests(h.info.requestPrefix + QStringLiteral("f=cj&auth="));
        QCOMPARE(sent.size(), 1);
        QVERIFY2(sent[0].endsWith(QStringLiteral("&ld=2&tlx=105000.0000&tly=202500.0000&brx=120000.0000&bry=225000.0000"
                                                 "&n=%20%20liver%20a%26b%232%20%20")),
                 qPrintable(sent[0]));
        QTRY_VERIFY(!h.server->jobs().isEmpty());
        QVERIFY(h.server->jobs().last().contains(QStringLiteral("  liver a&b#2  ")));
        QVERIFY2(h.infoText().contains(QStringLiteral("Job   liver a&b#2   submitted.")),
                 qPrintable(h.infoText().right(200)));
    }

    void refusedJob_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("reason");
        QTest::newRow("unreachable") << QStringLiteral("cj:refuse:4")
                                     << QStringLiteral("the server could not be reached.");
        QTest::newRow("wrong token") << QString() << QString();
    }

    void refusedJob()
    {
        QFETCH(QString, fault);
        QFETCH(QString, reason);
        if (!fault.isEmpty())
            QVERIFY(h.server->addFault(fault));
        else
            h.session->auth.setKey(QStringLiteral("not the password"));
        topLeft(QStringLiteral("10"), QStringLiteral("10"));
        bottomRight(QStringLiteral("12"), QStringLiteral("12"));
        h.session->jobNameEdit->setText(QStringLiteral("kidney"));
        h.session->createJobButton->click();
        QVERIFY(h.settle());
        h.session->auth.setKey(h.info.password);

        const QString text = h.infoText();
        QVERIFY2(text.contains(QStringLiteral("***Job kidney was not accepted: ") + reason),
                 qPrintable(text.right(300)));
        // The message carries what is needed to submit again.
        QVERIFY(text.contains(QStringLiteral("(10.0000, 10.0000) mm and (12.0000, 12.0000) mm, 1 samples / mm")));
        for (const QString& job : h.server->jobs())
            QVERIFY(!job.contains(QStringLiteral("kidney")));
    }

    void nameMustNotBeBlank()
    {
        topLeft(QStringLiteral("10"), QStringLiteral("10"));
        bottomRight(QStringLiteral("12"), QStringLiteral("12"));
        h.session->jobNameEdit->setText(QStringLiteral("   "));
        MessageBoxCatcher catcher;
        h.session->createJobButton->click();
        QCOMPARE(catcher.title(), QStringLiteral("Error: Cannot create job."));
        QCOMPARE(catcher.text(), QStringLiteral("You must enter a name for your job."));
        QVERIFY(h.settle());
        QVERIFY(h.requests(QStringLiteral("f=cj")).isEmpty());
        QCOMPARE(total(), QStringLiteral("4"));
    }
};

QTEST_MAIN(TestJobs)
#include "tst_jobs.moc"
