#include "session/FocusMeasure.h"

#include <QImage>
#include <QPainter>
#include <QtTest>

class TestFocusMeasure : public QObject
{
    Q_OBJECT

private:
    static QImage pattern(int blurPasses)
    {
        QImage image(168, 140, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y, ((x / 4 + y / 4) % 2) ? qRgb(230, 200, 210) : qRgb(30, 40, 60));
        // Box blur passes stand in for a defocused lens.
        for (int pass = 0; pass < blurPasses; ++pass) {
            QImage out = image;
            for (int y = 1; y < image.height() - 1; ++y)
                for (int x = 1; x < image.width() - 1; ++x) {
                    int r = 0, g = 0, b = 0;
                    for (int dy = -1; dy <= 1; ++dy)
                        for (int dx = -1; dx <= 1; ++dx) {
                            const QRgb p = image.pixel(x + dx, y + dy);
                            r += qRed(p);
                            g += qGreen(p);
                            b += qBlue(p);
                        }
                    out.setPixel(x, y, qRgb(r / 9, g / 9, b / 9));
                }
            image = out;
        }
        return image;
    }

private slots:
    void knownValue()
    {
        // One grey pixel of 10 beside black: Laplacians -160 and 40 (r + 2g + b
        // scale), mean -60, variance 10000.
        QImage image(4, 3, QImage::Format_RGB32);
        image.fill(Qt::black);
        image.setPixel(1, 1, qRgb(10, 10, 10));
        QCOMPARE(FocusMeasure::of(image), 10000.0);
    }

    void degenerate()
    {
        QCOMPARE(FocusMeasure::of(QImage()), 0.0);
        QImage tiny(2, 50, QImage::Format_RGB32);
        tiny.fill(Qt::white);
        QCOMPARE(FocusMeasure::of(tiny), 0.0);
        QImage flat(168, 140, QImage::Format_ARGB32);
        flat.fill(qRgb(90, 120, 30));
        QCOMPARE(FocusMeasure::of(flat), 0.0);
    }

    void sharperScoresHigher()
    {
        const double sharp = FocusMeasure::of(pattern(0));
        const double soft = FocusMeasure::of(pattern(1));
        const double softer = FocusMeasure::of(pattern(3));
        QVERIFY2(sharp > soft && soft > softer,
                 qPrintable(QStringLiteral("%1 %2 %3").arg(sharp).arg(soft).arg(softer)));
    }

    void otherFormatsConverted()
    {
        const QImage image = pattern(1);
        QCOMPARE(FocusMeasure::of(image.convertToFormat(QImage::Format_RGB888)), FocusMeasure::of(image));
        QCOMPARE(FocusMeasure::of(image.convertToFormat(QImage::Format_RGBA8888)), FocusMeasure::of(image));
    }
};

QTEST_MAIN(TestFocusMeasure)
#include "tst_focusmeasure.moc"
