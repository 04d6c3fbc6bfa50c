#include "views/SlideMarks.h"

#include <QTest>

#include <vector>

class TestSlideMarks : public QObject
{
    Q_OBJECT

private slots:
    void read_data();
    void read();
};

void TestSlideMarks::read_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("length");
    QTest::addColumn<QList<QPointF>>("expected");

    QTest::newRow("two lines") << QByteArray("cell1 100 200\ncell2 300.5 400\n") << -1
                               << QList<QPointF>{{100, 200}, {300.5, 400}};
    QTest::newRow("no final newline") << QByteArray("a 1 2\nb 3 4") << -1 << QList<QPointF>{{1, 2}, {3, 4}};
    QTest::newRow("empty") << QByteArray() << -1 << QList<QPointF>{};
    QTest::newRow("first line without numbers") << QByteArray("name\n") << -1 << QList<QPointF>{{0, 0}};
    QTest::newRow("missing values keep previous")
        << QByteArray("a 1 2\nb 7\nc\n") << -1 << QList<QPointF>{{1, 2}, {7, 2}, {7, 2}};
    QTest::newRow("empty line repeats") << QByteArray("a 1 2\n\nb 3 4\n") << -1
                                        << QList<QPointF>{{1, 2}, {1, 2}, {3, 4}};
    QTest::newRow("line over any buffer skipped")
        << (QByteArray("a 1 2\n") + QByteArray(2000, 'x') + " 5 6\nb 3 4\n") << -1 << QList<QPointF>{{1, 2}, {3, 4}};
    QTest::newRow("long line at the end skipped")
        << (QByteArray("a 1 2\n") + QByteArray(600, 'y')) << -1 << QList<QPointF>{{1, 2}};
    QTest::newRow("longest line read") << (QByteArray(SlideMarks::maxLineLength - 4, 'n') + " 8 9") << -1
                                       << QList<QPointF>{{8, 9}};
    QTest::newRow("bounded by length") << QByteArray("a 1 2\nb 3 4\n") << 6 << QList<QPointF>{{1, 2}};
    QTest::newRow("cut inside a number") << QByteArray("a 1 2\nb 3 4\n") << 9 << QList<QPointF>{{1, 2}, {3, 2}};
    QTest::newRow("NUL ends the line's text")
        << QByteArray("a 1\0 9\nb 3 4", 13) << -1 << QList<QPointF>{{1, 0}, {3, 4}};
    QTest::newRow("CRLF lines") << QByteArray("a 1 2\r\nb 3 4\r\n") << -1 << QList<QPointF>{{1, 2}, {3, 4}};
}

void TestSlideMarks::read()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, length);
    QFETCH(QList<QPointF>, expected);

    const int used = length < 0 ? static_cast<int>(reply.size()) : length;
    // Exactly the received bytes, no terminator: a read past them is a fault.
    std::vector<char> received(reply.constData(), reply.constData() + used);
    const QVector<CoordinateTriple> marks = SlideMarks::read(received.data(), used);

    QCOMPARE(marks.size(), expected.size());
    for (int i = 0; i < marks.size(); ++i) {
        QCOMPARE(marks[i].x, float(expected[i].x()));
        QCOMPARE(marks[i].y, float(expected[i].y()));
        QCOMPARE(marks[i].z, 0.0f);
    }
}

QTEST_MAIN(TestSlideMarks)
#include "tst_slidemarks.moc"
