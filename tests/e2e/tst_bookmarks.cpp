// Bookmarks against the test server: Go To sends the bookmarked position.
#include "SessionHarness.h"

#include "session/MarksController.h"
#include "views/MarksPanel.h"
#include "views/marks/AnnotationStore.h"

#include <QAction>
#include <QTableWidget>
#include <QtTest>

class TestBookmarks : public QObject
{
    Q_OBJECT

private:
    SessionHarness h;

private slots:
    void init()
    {
        h = SessionHarness();
        QVERIFY(h.start());
    }

    void cleanup()
    {
        h.session.reset();
        h.server.reset();
    }

    void goToSendsTheBookmark()
    {
        MarksController* marks = h.session->marks;
        // The scale has come with the system information.
        QVERIFY(marks->measureAction->isEnabled());
        QVERIFY(h.moveTo(QStringLiteral("37.5123"), QStringLiteral("25.0456"), QStringLiteral("1050")));
        QVERIFY(marks->addBookmark(QStringLiteral("here")));
        const QString here = QStringLiteral("f=m&x=375123&y=250456&z=10500&");
        QVERIFY(h.moveTo(QStringLiteral("38"), QStringLiteral("25.5"), QStringLiteral("900")));

        // While the stage moves, Go To sends nothing and says why.
        MarksPanel* panel = marks->panel();
        QTRY_COMPARE(panel->table->rowCount(), 1);
        panel->table->selectRow(0);
        h.session->frameGrabButton->click();
        panel->goToButton->click();
        QVERIFY(h.status().contains(QStringLiteral("busy")));
        QVERIFY(h.settle());
        QCOMPARE(h.requests(here).size(), 1);

        panel->goToButton->click();
        QVERIFY(h.settle());
        QCOMPARE(h.requests(here).size(), 2);
        QCOMPARE(h.requests(QStringLiteral("f=m&")).constLast(), h.requests(here).constLast());
        QCOMPARE(h.session->zCoord->text(), QStringLiteral("1050"));
    }
};

QTEST_MAIN(TestBookmarks)
#include "tst_bookmarks.moc"
