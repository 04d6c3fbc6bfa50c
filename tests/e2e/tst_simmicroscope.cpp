// The simulated instrument behind the protocol: stage motion, autofocus,
// video frames and insets, slide pictures, fiducials and slide marks.
#include "PlainClient.h"

#include "sim/OrvexServer.h"

#include <QDeadlineTimer>
#include <QImage>
#include <QNetworkAccessManager>
#include <QTest>

#include <cmath>
#include <cstdio>

namespace {

QByteArray fetch(QNetworkAccessManager& nam, const QString& url, int* status = nullptr)
{
    const PlainReply reply = plainGet(nam, url);
    if (status)
        *status = reply.status;
    return reply.body;
}

struct Position
{
    char status = 0;
    float x = 0, y = 0, z = 0;
    bool ok = false;
};

Position parsePosition(const QByteArray& reply)
{
    Position p;
    if (reply.isEmpty())
        return p;
    p.status = reply.at(0);
    const QByteArray rest = reply.mid(1);
    p.ok = std::sscanf(rest.constData(), "%f %f %f", &p.x, &p.y, &p.z) == 3;
    return p;
}

// mean squared neighbour difference of the green channel
double sharpness(const QImage& img)
{
    double sum = 0;
    for (int y = 0; y + 1 < img.height(); ++y)
        for (int x = 0; x + 1 < img.width(); ++x) {
            const int g = qGreen(img.pixel(x, y));
            const int dx = qGreen(img.pixel(x + 1, y)) - g;
            const int dy = qGreen(img.pixel(x, y + 1)) - g;
            sum += dx * dx + dy * dy;
        }
    return sum / (double(img.width()) * img.height());
}

// The fiducial calibration as a client computes it, stage units to pixels.
struct Calibration
{
    int p[8] = {};
    float w = 0, h = 0;
    double scaleX = 0, scaleY = 0, angle = 0;
    bool read(const QByteArray& text)
    {
        if (std::sscanf(text.constData(), "%i\n%i\n%i\n%i\n%i\n%i\n%i\n%i\n%f\n%f\n", &p[0], &p[1], &p[2], &p[3], &p[4],
                        &p[5], &p[6], &p[7], &w, &h) != 10)
            return false;
        auto dist = [this](int a, int b) {
            return std::hypot(double(p[2 * a] - p[2 * b]), double(p[2 * a + 1] - p[2 * b + 1]));
        };
        scaleX = (dist(0, 1) + dist(2, 3)) * 0.5;
        scaleY = (dist(0, 2) + dist(1, 3)) * 0.5;
        const double top = std::atan(double(p[3] - p[1]) / double(p[2] - p[0]));
        const double bottom = std::atan(double(p[7] - p[5]) / double(p[6] - p[4]));
        const double left = std::atan(-double(p[4] - p[0]) / double(p[5] - p[1]));
        const double right = std::atan(-double(p[6] - p[2]) / double(p[7] - p[3]));
        angle = ((top + bottom) * 0.5 + (left + right) * 0.5) * 0.5;
        return true;
    }
    QPointF toPixel(double x, double y) const
    {
        const double ux = scaleX / w * (x * 0.0001);
        const double uy = scaleY / h * (y * 0.0001);
        return {ux * std::cos(angle) - uy * std::sin(angle) + p[0], ux * std::sin(angle) + uy * std::cos(angle) + p[1]};
    }
};

} // namespace

class TestSimMicroscope : public QObject
{
    Q_OBJECT

private:
    OrvexServer* server = nullptr;
    QNetworkAccessManager nam;
    QString scope;
    quint32 ticketNumber = 0;
    quint32 draw = 100;

    QString base() const { return QStringLiteral("http://") + server->host(); }
    QString session(const QString& query) const
    {
        return base() + QStringLiteral("/cgi-bin/oserv?l=demo&s=") + scope + QStringLiteral("&") + query;
    }
    QString token()
    {
        return QStringLiteral("&auth=") + clientToken(ticketNumber, QStringLiteral("orvex-demo"), ++draw & 0x7FFF);
    }
    QByteArray control(const QString& query) { return fetch(nam, session(query) + token()); }
    QString slide() const { return server->slidesOf(scope).first(); }
    Position moveAndWait(double x, double y, double z)
    {
        Position p = parsePosition(
            control(QStringLiteral("f=m&x=%1&y=%2&z=%3").arg(x, 0, 'f', 6).arg(y, 0, 'f', 6).arg(z, 0, 'f', 6)));
        for (int i = 0; i < 2000 && p.status == '*'; ++i)
            p = parsePosition(control(QStringLiteral("f=w")));
        return p;
    }
    QImage frame(const QString& query) { return QImage::fromData(fetch(nam, session(query)), "JPEG"); }

private slots:
    void init()
    {
        server = new OrvexServer();
        QVERIFY(server->listen(0));
        scope = server->scopeNames().first();
        const QByteArray reply =
            fetch(nam, base() + QStringLiteral("/cgi-bin/oserv?f=ticket&s=") + scope + QStringLiteral("&l=demo"));
        QVERIFY(reply.startsWith('+'));
        ticketNumber = numberAt(reply, 3, QStringLiteral("orvex-demo"));
    }
    void cleanup()
    {
        delete server;
        server = nullptr;
    }

    void moveReportsProgressThenArrival()
    {
        server->setStageSpeed(40000.0); // 20000 units take half a second
        const QVector3D start = server->stagePosition(scope);
        const double tx = start.x() + 20000.0, ty = start.y() - 10000.0, tz = start.z() + 100.0;
        Position p = parsePosition(
            control(QStringLiteral("f=m&x=%1&y=%2&z=%3").arg(tx, 0, 'f', 6).arg(ty, 0, 'f', 6).arg(tz, 0, 'f', 6)));
        QVERIFY(p.ok);
        QCOMPARE(p.status, '*');
        int moving = 1;
        float lastX = p.x;
        // bounded by time: on a fast machine thousands of queries fit in half a second
        for (QDeadlineTimer limit(10000); !limit.hasExpired() && p.status == '*';) {
            p = parsePosition(control(QStringLiteral("f=w")));
            QVERIFY(p.ok);
            QVERIFY(p.x >= lastX && p.x <= tx); // on the way, never past the target
            lastX = p.x;
            moving += p.status == '*';
        }
        QCOMPARE(p.status, '+');
        QVERIFY(moving >= 2);
        QCOMPARE(p.x, float(std::trunc(tx)));
        QCOMPARE(p.y, float(std::trunc(ty)));
        QCOMPARE(p.z, float(std::trunc(tz)));
        QCOMPARE(server->stagePosition(scope), QVector3D(float(tx), float(ty), float(tz)));
        // asking again once arrived keeps reporting the same place
        const Position again = parsePosition(control(QStringLiteral("f=w")));
        QCOMPARE(again.status, '+');
        QCOMPARE(again.x, p.x);
    }

    void moveClampsToTravel()
    {
        server->setStageSpeed(1e9);
        const Position p = moveAndWait(-500.0, 99999999.0, 40000.0);
        QCOMPARE(p.status, '+');
        QCOMPARE(p.x, 0.0f);
        QCOMPARE(p.y, 503250.0f);
        QCOMPARE(p.z, 30000.0f);
        QVERIFY(control(QStringLiteral("f=m&x=1&y=2")).startsWith('-'));
    }

    void stackMoveAnswersOnArrival()
    {
        server->setStageSpeed(40000.0);
        const QVector3D start = server->stagePosition(scope);
        const QByteArray reply =
            control(QStringLiteral("f=m&b=y&x=%1&y=%2&z=%3").arg(start.x()).arg(start.y()).arg(start.z() + 8000.0f));
        const Position p = parsePosition(reply);
        QCOMPARE(p.status, '+');
        QCOMPARE(p.z, std::trunc(start.z() + 8000.0f));
        QCOMPARE(server->stagePosition(scope).z(), start.z() + 8000.0f); // already there when answered
    }

    void autofocusLandsNearFocalPlane_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<double>("tolerance");
        QTest::addColumn<double>("offset");
        QTest::newRow("quick, above") << "f=a" << 40.0 << 900.0;
        QTest::newRow("quick, below") << "f=a" << 40.0 << -2500.0;
        QTest::newRow("accurate") << "f=r" << 10.0 << 700.0;
    }
    void autofocusLandsNearFocalPlane()
    {
        QFETCH(QString, request);
        QFETCH(double, tolerance);
        QFETCH(double, offset);
        server->setStageSpeed(1e9);
        const double x = 371000.0, y = 247000.0;
        const double zf = server->focalPlaneAt(slide(), x, y);
        QVERIFY(zf > 5000.0 && zf < 17000.0);
        QCOMPARE(moveAndWait(x, y, zf + offset).status, '+');
        const Position p = parsePosition(control(request));
        QVERIFY(p.ok);
        QCOMPARE(p.status, '+');
        QCOMPARE(p.x, float(x));
        QCOMPARE(p.y, float(y));
        QVERIFY2(std::abs(p.z - zf) <= tolerance, qPrintable(QStringLiteral("z %1, focus %2").arg(p.z).arg(zf)));
        QCOMPARE(std::trunc(server->stagePosition(scope).z()), p.z);
    }

    void framesHaveTheirSizes()
    {
        const QSize sizes[] = {{640, 480}, {800, 600}, {1024, 768}, {1280, 960}};
        for (int ps = 1; ps <= 4; ++ps)
            QCOMPARE(frame(QStringLiteral("f=p&ps=%1").arg(ps)).size(), sizes[ps - 1]);
        QVERIFY(frame(QStringLiteral("f=p&ps=9")).isNull());

        const QImage full = frame(QStringLiteral("f=p&ps=2"));
        const QImage inset = frame(QStringLiteral("f=p&ps=2&x=300&y=200&inset=1"));
        QCOMPARE(inset.size(), QSize(168, 140));
        // the inset is the cut of that very frame
        double diff = 0;
        for (int y = 0; y < 140; ++y)
            for (int x = 0; x < 168; ++x)
                diff += std::abs(qGreen(inset.pixel(x, y)) - qGreen(full.pixel(300 + x, 200 + y)));
        QVERIFY(diff / (168 * 140) < 6.0);
        QCOMPARE(frame(QStringLiteral("f=p&ps=1&x=5000&y=-4&inset=1")).size(), QSize(168, 140));

        const QByteArray a = fetch(nam, session(QStringLiteral("f=p&ps=1")));
        QCOMPARE(fetch(nam, session(QStringLiteral("f=p&ps=1"))), a);
    }

    void defocusBlursFrames()
    {
        server->setStageSpeed(1e9);
        const double x = 378350.0, y = 251625.0;
        const double zf = server->focalPlaneAt(slide(), x, y);
        double previous = 1e18;
        for (double dz : {0.0, 130.0, 600.0, 2000.0}) {
            QCOMPARE(moveAndWait(x, y, zf + dz).status, '+');
            const double s = sharpness(frame(QStringLiteral("f=p&ps=1")));
            QVERIFY2(s < previous, qPrintable(QStringLiteral("dz %1: %2 after %3").arg(dz).arg(s).arg(previous)));
            previous = s;
        }
    }

    void slidePictures()
    {
        const QImage overview =
            QImage::fromData(fetch(nam, base() + QStringLiteral("/small_slides/") + slide()), "JPEG");
        QVERIFY(overview.width() >= 383 && overview.height() >= 255);
        const QImage whole = QImage::fromData(fetch(nam, base() + QStringLiteral("/whole_slides/") + slide()), "JPEG");
        QCOMPARE(whole.size(), QSize(3060, 2036));

        Calibration cal;
        QVERIFY(cal.read(fetch(nam, base() + QStringLiteral("/fiducials/") + slide())));
        QVERIFY(std::abs(cal.angle) > 0.001 && std::abs(cal.angle) < 0.02); // slightly rotated
        QVERIFY(cal.p[0] > 0 && cal.p[1] > 0);                              // and offset

        // The label ends at x = 12 mm; on the picture the edge must fall within
        // one and a half pixels of where the calibration puts it.
        const double pixelUnits = cal.w * 10000.0 / cal.scaleX;
        for (double y : {80000.0, 250000.0, 420000.0}) {
            const QPointF glass = cal.toPixel(120000.0 + 1.5 * pixelUnits, y);
            const QPointF label = cal.toPixel(120000.0 - 1.5 * pixelUnits, y);
            QVERIFY(qBlue(whole.pixel(glass.toPoint())) > 232);
            QVERIFY(qBlue(whole.pixel(label.toPoint())) < 224);
        }
        // the slide's corners: inside bright, outside the dark surround
        for (const QPointF& c : {QPointF(0, 0), QPointF(756700, 0), QPointF(0, 503250), QPointF(756700, 503250)}) {
            const double inX = c.x() > 0 ? -2.5 : 2.5, inY = c.y() > 0 ? -2.5 : 2.5;
            const QPointF inside = cal.toPixel(c.x() + inX * pixelUnits, c.y() + inY * pixelUnits);
            const QPointF outside = cal.toPixel(c.x() - inX * pixelUnits, c.y() - inY * pixelUnits);
            QVERIFY(qGray(whole.pixel(inside.toPoint())) > 180);
            QVERIFY(qGray(whole.pixel(outside.toPoint())) < 100);
        }

        // slide marks lie on tissue that the picture shows at those places
        const QByteArray marks = fetch(nam, base() + QStringLiteral("/cgi-bin/ocount?f=sl&s=") + slide());
        int sections = 0;
        for (const QByteArray& line : marks.split('\n')) {
            if (line.isEmpty())
                continue;
            char word[80] = {};
            float x = 0, y = 0;
            QCOMPARE(std::sscanf(line.constData(), "%79s %f %f", word, &x, &y), 3);
            QVERIFY(x >= 0 && x <= 756700 && y >= 0 && y <= 503250);
            if (!QByteArray(word).startsWith("section"))
                continue;
            ++sections;
            const QPoint at = cal.toPixel(x, y).toPoint();
            double green = 0;
            for (int dy = -7; dy <= 7; ++dy)
                for (int dx = -7; dx <= 7; ++dx)
                    green += qGreen(whole.pixel(at.x() + dx, at.y() + dy));
            QVERIFY2(green / 225 < 215, word);
        }
        QVERIFY(sections >= 1);
    }

    void unknownNamesAreNotFound_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("small") << "/small_slides/no-such-slide";
        QTest::newRow("whole") << "/whole_slides/no-such-slide";
        QTest::newRow("fiducials") << "/fiducials/no-such-slide";
        QTest::newRow("marks") << "/cgi-bin/ocount?f=sl&s=no-such-slide";
        QTest::newRow("empty name") << "/whole_slides/";
        QTest::newRow("other path") << "/index.html";
    }
    void unknownNamesAreNotFound()
    {
        QFETCH(QString, path);
        int status = 0;
        fetch(nam, base() + path, &status);
        QCOMPARE(status, 404);
    }

    void sameSeedSameMicroscope()
    {
        OrvexServerOptions options;
        options.seed = 7;
        OrvexServer a(options), b(options);
        options.seed = 8;
        OrvexServer c(options);
        QVERIFY(a.listen(0) && b.listen(0) && c.listen(0));
        const QString path = QStringLiteral("/small_slides/") + slide();
        const QByteArray pa = fetch(nam, QStringLiteral("http://") + a.host() + path);
        QVERIFY(!pa.isEmpty());
        QCOMPARE(fetch(nam, QStringLiteral("http://") + b.host() + path), pa);
        QVERIFY(fetch(nam, QStringLiteral("http://") + c.host() + path) != pa);
        QCOMPARE(a.focalPlaneAt(slide(), 1000, 2000), b.focalPlaneAt(slide(), 1000, 2000));
    }
};

QTEST_MAIN(TestSimMicroscope)
#include "tst_simmicroscope.moc"
