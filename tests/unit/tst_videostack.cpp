#include "views/VideoStack.h"

#include <QTest>

namespace {

QImage filled(QRgb colour, const QSize& size = QSize(168, 140))
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

QRgb centreOf(VideoStack& stack)
{
    const QImage shot = stack.grab().toImage();
    return shot.pixel(shot.width() / 2, shot.height() / 2);
}

} // namespace

class TestVideoStack : public QObject
{
    Q_OBJECT

private slots:
    void emptyStackShowsNothing();
    void indicesOutsideTheListIgnored();
    void clearDrawsNothingUntilNextPicture();
    void pictureStretchedToWidget();
};

void TestVideoStack::emptyStackShowsNothing()
{
    VideoStack stack(nullptr, "insetStack");
    stack.resize(168, 140);
    QCOMPARE(stack.objectName(), QStringLiteral("insetStack"));
    const QRgb background = centreOf(stack);
    stack.displayImage(0);
    QCOMPARE(stack.currentIndex(), -1);
    QCOMPARE(centreOf(stack), background);
}

void TestVideoStack::indicesOutsideTheListIgnored()
{
    VideoStack stack;
    stack.resize(168, 140);
    QImage red = filled(qRgb(255, 0, 0));
    QImage green = filled(qRgb(0, 255, 0));
    QImage blue = filled(qRgb(0, 0, 255));
    stack.addImage(red);
    stack.addImage(green);
    stack.addImage(blue);
    QCOMPARE(stack.count(), 3);
    QCOMPARE(stack.currentIndex(), 2);
    QCOMPARE(centreOf(stack), qRgb(0, 0, 255));

    stack.displayImage(1);
    QCOMPARE(centreOf(stack), qRgb(0, 255, 0));
    stack.displayImage(3);
    stack.displayImage(-1);
    stack.displayImage(1 << 30);
    QCOMPARE(stack.currentIndex(), 1);
    QCOMPARE(centreOf(stack), qRgb(0, 255, 0));

    // Entries are copies: changing the caller's picture leaves the stack alone,
    // and the same picture added twice is two entries.
    green.fill(qRgb(9, 9, 9));
    QCOMPARE(centreOf(stack), qRgb(0, 255, 0));
    stack.addImage(red);
    QCOMPARE(stack.count(), 4);
}

void TestVideoStack::clearDrawsNothingUntilNextPicture()
{
    VideoStack stack;
    stack.resize(168, 140);
    const QRgb background = centreOf(stack);
    QImage red = filled(qRgb(255, 0, 0));
    stack.addImage(red);
    stack.addImage(red);
    stack.clear();
    QCOMPARE(stack.count(), 0);
    QCOMPARE(stack.currentIndex(), -1);
    QCOMPARE(centreOf(stack), background);
    for (int index : {0, 1, -1}) {
        stack.displayImage(index);
        QCOMPARE(stack.currentIndex(), -1);
        QCOMPARE(centreOf(stack), background);
    }

    QImage green = filled(qRgb(0, 255, 0));
    stack.addImage(green);
    QCOMPARE(stack.currentIndex(), 0);
    QCOMPARE(centreOf(stack), qRgb(0, 255, 0));
}

void TestVideoStack::pictureStretchedToWidget()
{
    VideoStack stack;
    stack.resize(168, 140);
    QImage small = filled(qRgb(200, 0, 0), QSize(4, 4));
    small.setPixel(3, 3, qRgb(0, 0, 200));
    stack.addImage(small);
    const QImage shot = stack.grab().toImage();
    QCOMPARE(shot.pixel(0, 0), qRgb(200, 0, 0));
    QCOMPARE(shot.pixel(167, 139), qRgb(0, 0, 200));
    QCOMPARE(shot.pixel(84, 70), qRgb(200, 0, 0));
}

QTEST_MAIN(TestVideoStack)
#include "tst_videostack.moc"
