#include "acquire/ScanTiming.h"
#include "acquire/SessionLink.h"
#include "acquire/TicketReply.h"
#include "acquire/TileGrid.h"
#include "acquire/TileScan.h"
#include "net/MyHTTP.h"
#include "net/OrvexUrl.h"
#include "session/FocusMapRun.h"
#include "session/FocusMeasure.h"
#include "sim/OrvexServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <cmath>
#include <functional>
#include <string>

namespace {

void ensureCoreApplication()
{
    static int argc = 1;
    static char name[] = "tessan-bench";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);
}

// Runs the event loop until `done` holds or a minute passes.
bool waitFor(const std::function<bool()>& done)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < 600000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return done();
}

struct ScanFigures
{
    double seconds = 0;
    QVector<double> sharpness; // per tile id
    double worstFocusUm = 0;   // of the tiles' z from the slide's focus
    int kept = 0;              // focus points whose frame is the tile
};

// One 6 x 6 scan of the tilted slide through the client's own scan classes
// against the in-process server: "keep", "every" tile autofocus or "map".
ScanFigures scanTilted(OrvexServer& server, SessionLink& link, const QString& mode)
{
    ScanFigures out;
    ScanTiming timing;
    TileScan scan(link, timing);
    FocusMapRun focusRun(link, timing);
    const QString scope = server.scopeNames().value(0);
    // 6 x 6 frames of 640 x 480 at 0.5 µm, 15 % overlap, around the middle of the slide
    const TileGrid grid = TileGrid::plan(QPointF(37000, 24500), QPointF(38632, 25724), QSize(640, 480), 0.5, 0.5, 15);
    const QVector3D at = server.stagePosition(scope);
    CoordinateTriple from;
    from.x = at.x();
    from.y = at.y();
    from.z = float(std::trunc(server.focalPlaneAt(QStringLiteral("tilted-51"), 378350, 251625)));
    out.sharpness.resize(grid.count());
    QObject context;
    QObject::connect(
        &scan, &TileScan::tileTaken, &context, [&](int id, int, int, QPointF reportedUm, const QImage& frame) {
            out.sharpness[id] = FocusMeasure::of(frame);
            const double truth =
                server.focalPlaneAt(QStringLiteral("tilted-51"), reportedUm.x() * 10.0, reportedUm.y() * 10.0);
            out.worstFocusUm = std::max(out.worstFocusUm, std::abs(scan.framePosition().z - truth) / 10.0);
        });
    bool finished = false;
    QObject::connect(&scan, &TileScan::finished, &context, [&] { finished = true; });
    QElapsedTimer clock;
    clock.start();
    QHash<int, TileScan::Frame> taken;
    if (mode == QLatin1String("map")) {
        bool mapped = false;
        QObject::connect(&focusRun, &FocusMapRun::finished, &context, [&] { mapped = true; });
        focusRun.start(grid, 1, from);
        waitFor([&] { return mapped; });
        const FocusSurface surface = FocusSurface::fit(focusRun.found());
        scan.focusUm = [surface](const QPointF& c) { return surface.at(c.x(), c.y()); };
        from = focusRun.position();
        // the frame at each point found is the tile there
        taken = focusRun.takeTileFrames(surface);
        out.kept = taken.size();
    }
    scan.start(grid, 1, mode == QLatin1String("every") ? 1 : 0, from, taken);
    waitFor([&] { return finished; });
    out.seconds = clock.elapsed() / 1000.0;
    return out;
}

// A session on the tilted slide of a fresh in-process server.
struct TiltedSession
{
    explicit TiltedSession(const OrvexServerOptions& options)
        : server(options)
    {
        server.listen(0);
        scope = server.scopeNames().value(0);
        server.addScope(scope, false, QString(), {QStringLiteral("tilted-51")});
        MyHTTP ticket;
        bool granted = false;
        QObject::connect(&ticket, qOverload<>(&MyHTTP::done), &ticket, [&] { granted = true; });
        ticket.setUrl(OrvexUrl::sessionTicket(server.host(), scope, QStringLiteral("demo")));
        ticket.start();
        if (!waitFor([&] { return granted; }) || !ticket.succeeded())
            return;
        link.grant(server.host(), OrvexUrl::requestPrefix(QStringLiteral("demo"), scope), QStringLiteral("orvex-demo"),
                   TicketReply::hexAt(ticket.data(), ticket.length(), 3));
        ready = true;
    }
    OrvexServer server;
    QString scope;
    SessionLink link;
    bool ready = false;
};

// The three ways of focusing one after the other against one server.
struct FocusRuns
{
    ScanFigures every, map, keep;

    void run(TiltedSession& s)
    {
        every = scanTilted(s.server, s.link, QStringLiteral("every"));
        map = scanTilted(s.server, s.link, QStringLiteral("map"));
        keep = scanTilted(s.server, s.link, QStringLiteral("keep"));
    }
    void report(benchmark::State& state, const std::string& prefix) const
    {
        auto sharpnessShare = [this](const ScanFigures& f) {
            double sum = 0;
            for (int i = 0; i < f.sharpness.size(); ++i)
                sum += f.sharpness[i] / every.sharpness[i];
            return sum / f.sharpness.size();
        };
        state.counters[prefix + "every_s"] = every.seconds;
        state.counters[prefix + "map_s"] = map.seconds;
        state.counters[prefix + "keep_s"] = keep.seconds;
        state.counters[prefix + "every_per_map_time"] = every.seconds / map.seconds;
        // the time focusing adds to a scan that keeps its focus
        state.counters[prefix + "every_per_map_focusing"] =
            (every.seconds - keep.seconds) / (map.seconds - keep.seconds);
        state.counters[prefix + "map_sharpness_share"] = sharpnessShare(map);
        state.counters[prefix + "keep_sharpness_share"] = sharpnessShare(keep);
        state.counters[prefix + "every_worst_dz_um"] = every.worstFocusUm;
        state.counters[prefix + "map_worst_dz_um"] = map.worstFocusUm;
        state.counters[prefix + "keep_worst_dz_um"] = keep.worstFocusUm;
        state.counters[prefix + "map_points_kept_as_tiles"] = map.kept;
    }
};

} // namespace

// The same 6 x 6 scan of the tilted slide (focus drifting some 16 µm per mm)
// with autofocus at every tile, with a focus map of 3 x 3 points, and keeping
// the first focus: the time of each and the sharpness of its tiles against
// those of autofocus at every tile, measured side by side in one run. Twice:
// with the test server's default autofocus (about 0.4 s, counters "fast_")
// and with the sweep of a real camera (30 ms per z tried, counters "real_").
static void BM_FocusMapTilted6x6(benchmark::State& state)
{
    ensureCoreApplication();
    OrvexServerOptions real;
    real.focusExposureMs = OrvexServerOptions::kRealFocusExposureMs;
    TiltedSession fastSession{OrvexServerOptions()}, realSession{real};
    if (!fastSession.ready || !realSession.ready) {
        state.SkipWithError("no session ticket");
        return;
    }
    FocusRuns fast, realRuns;
    for (auto _ : state) {
        fast.run(fastSession);
        realRuns.run(realSession);
    }
    fast.report(state, "fast_");
    realRuns.report(state, "real_");
}
BENCHMARK(BM_FocusMapTilted6x6)->Unit(benchmark::kSecond)->Iterations(1);
