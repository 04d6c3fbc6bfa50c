#include "sim/OrvexServer.h"

#include "sim/ReplyWriter.h"
#include "sim/SimAuth.h"
#include "sim/SimHttpFrontend.h"
#include "sim/SimNoise.h"
#include "sim/SlideRenderer.h"
#include "sim/StageError.h"
#include "sim/ThickSpecimen.h"
#include "sim/TruthRequest.h"

#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

#include <cmath>

namespace {

// The scale the server reports is the one its frames are drawn at (stage units are 0.1 um).
constexpr double kMicronsPerPixel = SlideRenderer::kUnitsPerPixel / 10.0;
constexpr int kInsetWidth = 168;
constexpr int kInsetHeight = 140;

QString key(const QString& login, const QString& scope)
{
    return login + QLatin1Char('\n') + scope;
}

// Like a CGI program, the server works on bytes: "%E4" is the byte 0xE4,
// held as the Latin-1 character it stands for, and names compare byte for
// byte with the Latin-1 list ("%C3%A4" is two other bytes).
QString bytesOf(const QString& encoded)
{
    return QString::fromLatin1(QByteArray::fromPercentEncoding(encoded.toLatin1()));
}

QString value(const QUrlQuery& q, const char* name)
{
    return bytesOf(q.queryItemValue(QLatin1String(name), QUrl::FullyEncoded));
}

bool number(const QUrlQuery& q, const char* name, double* out)
{
    bool ok = false;
    *out = value(q, name).trimmed().toDouble(&ok);
    return ok && std::isfinite(*out);
}

QByteArray units(double v)
{
    return QByteArray::number(static_cast<qint64>(v));
}

QByteArray decimals(double v)
{
    return QByteArray::number(v, 'f', 6);
}

} // namespace

OrvexServer::OrvexServer(const OrvexServerOptions& options, QObject* parent)
    : QObject(parent)
    , m_options(options)
    , m_slides(options.seed)
{
    m_clock.start();
    m_http = new SimHttpFrontend(
        [this](const QHttpServerRequest& request, QTcpSocket* socket) { onRequest(request, socket); }, this);

    addAccount(QStringLiteral("demo"), QStringLiteral("orvex-demo"));
    m_accounts[QStringLiteral("demo")].everywhere = true;
    addAccount(QStringLiteral("guest"), QStringLiteral("guest"));

    addScope(QStringLiteral("Orvex-BF-20x"), false,
             QStringLiteral("<b>Brightfield, 20x / 0.75 NA</b><br>Upright microscope with a motorised "
                            "three-axis stage and a colour camera at 0.5 um per pixel.<br>"
                            "<i>Stained tissue sections.</i>"),
             {QStringLiteral("liver-01"), QStringLiteral("kidney-02"), QStringLiteral("lung-03")});
    addScope(QStringLiteral("Orvex-BF-40x"), false,
             QStringLiteral("<b>Brightfield, 40x / 0.95 NA</b><br>High magnification station for "
                            "cytology and fine structure.<br><i>Teaching set.</i>"),
             {QStringLiteral("colon-11"), QStringLiteral("skin-12"), QStringLiteral("spleen-13")});
    addScope(QStringLiteral("Orvex-Fluor-10x"), true,
             QStringLiteral("<b>Widefield, 10x / 0.45 NA</b><br>Currently controlled by another user."),
             {QStringLiteral("brain-21"), QStringLiteral("heart-22")});
    addScope(QStringLiteral("Orvex-BF-40x-Thick"), false,
             QStringLiteral("<b>Brightfield, 40x / 0.95 NA</b><br>Thick specimens: smears and thick sections, "
                            "never sharp everywhere in one frame.<br><i>For focus stacking.</i>"),
             {QStringLiteral("smear-31"), QStringLiteral("thick-32")});
    addScope(QStringLiteral("Orvex-BF-20x-Cells"), false,
             QStringLiteral("<b>Brightfield, 20x / 0.75 NA</b><br>Loose cells on clean glass, with wide "
                            "empty stretches between the clusters.<br><i>Cytology.</i>"),
             {QStringLiteral("cells-41")});
    addScope(QStringLiteral("Orvex-BF-20x-Tilted"), false,
             QStringLiteral("<b>Brightfield, 20x / 0.75 NA</b><br>A section on a slide lying crooked in its "
                            "holder: focus drifts by tens of um across a few millimetres.<br><i>For focus maps.</i>"),
             {QStringLiteral("tilted-51")});
    schedule(QStringLiteral("demo"), QStringLiteral("Orvex-BF-20x"));
    schedule(QStringLiteral("demo"), QStringLiteral("Orvex-BF-40x-Thick"));
}

OrvexServer::~OrvexServer() = default;

bool OrvexServer::listen(quint16 port)
{
    if (m_tcp)
        return m_tcp->isListening();
    m_tcp = new QTcpServer(this);
    if (!m_tcp->listen(QHostAddress::LocalHost, port)) {
        delete m_tcp;
        m_tcp = nullptr;
        return false;
    }
    m_http->bind(m_tcp);
    return true;
}

quint16 OrvexServer::port() const
{
    return m_tcp ? m_tcp->serverPort() : 0;
}

QString OrvexServer::host() const
{
    return QStringLiteral("127.0.0.1:%1").arg(port());
}

bool OrvexServer::addFault(const QString& rule)
{
    return m_faults.add(rule);
}

void OrvexServer::clearFaults()
{
    m_faults.clear();
}

bool OrvexServer::setLogFile(const QString& path)
{
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    m_logFile = std::move(file);
    return true;
}

void OrvexServer::log(const QString& line)
{
    if (!m_logFile)
        return;
    m_logFile->write(line.toUtf8() + '\n');
    m_logFile->flush();
}

void OrvexServer::addAccount(const QString& login, const QString& password)
{
    m_accounts[login].password = password;
}

void OrvexServer::authorize(const QString& login, const QString& scope)
{
    m_accounts[login].scopes.insert(scope);
}

void OrvexServer::schedule(const QString& login, const QString& scope)
{
    m_scheduled.insert(key(login, scope));
}

void OrvexServer::setBanner(const QString& text)
{
    m_banner = text;
}

void OrvexServer::addScope(const QString& name, bool inUse, const QString& description, const QStringList& slides)
{
    Scope* s = findScope(name);
    if (!s) {
        m_scopes.append(Scope());
        s = &m_scopes.last();
        s->name = name;
    }
    s->inUse = inUse;
    s->description = description;
    s->slides = slides;
    // a fresh stage waits in focus over the middle of the slide
    const double x = 378350.0, y = 251625.0;
    s->stage.place(x, y, std::trunc(ThickSpecimen::surfaceAt(slideUnder(*s), x, y)));
}

void OrvexServer::setStageSpeed(double unitsPerSecond)
{
    m_options.stageSpeed = unitsPerSecond;
}

void OrvexServer::setLatency(int ms)
{
    m_options.latencyMs = ms;
}

QVector3D OrvexServer::stagePosition(const QString& scope) const
{
    const Scope* s = findScope(scope);
    if (!s)
        return {};
    double x, y, z;
    s->stage.position(now(), &x, &y, &z);
    return QVector3D(float(x), float(y), float(z));
}

double OrvexServer::focalPlaneAt(const QString& slide, double x, double y) const
{
    return m_slides.slide(slide).focalPlaneAt(x, y);
}

QStringList OrvexServer::jobs() const
{
    return m_jobs;
}

QStringList OrvexServer::scopeNames() const
{
    QStringList names;
    for (const Scope& s : m_scopes)
        names << s.name;
    return names;
}

QStringList OrvexServer::slidesOf(const QString& scope) const
{
    const Scope* s = findScope(scope);
    return s ? s->slides : QStringList();
}

double OrvexServer::micronsPerPixel() const
{
    return kMicronsPerPixel;
}

OrvexServer::Scope* OrvexServer::findScope(const QString& name)
{
    for (Scope& s : m_scopes)
        if (s.name == name)
            return &s;
    return nullptr;
}

const OrvexServer::Scope* OrvexServer::findScope(const QString& name) const
{
    for (const Scope& s : m_scopes)
        if (s.name == name)
            return &s;
    return nullptr;
}

const SlideModel& OrvexServer::slideUnder(const Scope& scope) const
{
    return m_slides.slide(scope.slides.isEmpty() ? QStringLiteral("blank") : scope.slides.first());
}

bool OrvexServer::knownSlide(const QString& name) const
{
    for (const Scope& s : m_scopes)
        if (s.slides.contains(name))
            return true;
    return false;
}

bool OrvexServer::authorized(const QString& login, const QString& scope) const
{
    const auto it = m_accounts.constFind(login);
    return it != m_accounts.constEnd() && (it->everywhere || it->scopes.contains(scope));
}

quint32 OrvexServer::nextNumber()
{
    return SimNoise::hash(m_options.seed, ++m_counter, 0xC0FFEEu);
}

QString OrvexServer::kindOf(const QString& path, const QUrlQuery& query)
{
    if (path == QLatin1String("/cgi-bin/oserv")) {
        const QString f = value(query, "f");
        if (f == QLatin1String("m") && value(query, "b") == QLatin1String("y"))
            return QStringLiteral("mb");
        if (f == QLatin1String("p") && value(query, "inset") == QLatin1String("1"))
            return QStringLiteral("inset");
        return f;
    }
    if (path == QLatin1String("/cgi-bin/ocount"))
        return value(query, "f");
    for (const char* prefix : {"small_slides", "whole_slides", "fiducials"})
        if (path.startsWith(QLatin1Char('/') + QLatin1String(prefix) + QLatin1Char('/')))
            return QLatin1String(prefix);
    return QString();
}

void OrvexServer::onRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    const QUrl url = request.url();
    const QString rawQuery = url.query(QUrl::FullyEncoded);
    const QString target =
        url.path(QUrl::FullyEncoded) + (rawQuery.isEmpty() ? QString() : QLatin1Char('?') + rawQuery);
    ++m_requests;
    log(target);
    emit requestReceived(target);

    const QUrlQuery query(rawQuery);
    const QString path = bytesOf(url.path(QUrl::FullyEncoded));
    const QString kind = kindOf(path, query);
    const Fault fault = m_faults.take(kind);
    if (fault == Fault::Refuse) {
        QTimer::singleShot(0, socket, [socket]() { socket->abort(); });
        return;
    }
    if (fault == Fault::Stall)
        return;

    SimReply reply = answer(kind, path, query);
    if (m_options.legacy && reply.contentType == "text/plain")
        reply.body.replace("\n", "\r\n");
    reply.http10 = m_options.legacy;
    const bool raw = m_options.legacy || fault == Fault::Cut || fault == Fault::Drip || fault == Fault::Oversize;
    std::shared_ptr<QHttpServerResponder> responder;
    if (!raw)
        responder = std::make_shared<QHttpServerResponder>(SimHttpFrontend::responderFor(request, socket));
    const quint32 noise = SimNoise::hash(m_options.seed, m_requests, 0x6A7Bu);
    const int delay = reply.delayMs + m_options.latencyMs;
    if (delay <= 0) {
        ReplyWriter::deliver(socket, responder, reply, fault, noise);
        return;
    }
    QPointer<QTcpSocket> guard(socket);
    QTimer::singleShot(delay, this, [guard, responder, reply, fault, noise]() {
        if (guard && guard->state() == QAbstractSocket::ConnectedState)
            ReplyWriter::deliver(guard.data(), responder, reply, fault, noise);
    });
}

SimReply OrvexServer::answer(const QString& kind, const QString& path, const QUrlQuery& query)
{
    if (path == QLatin1String("/cgi-bin/oserv")) {
        const QString login = value(query, "l");
        const QString scope = value(query, "s");
        if (kind == QLatin1String("i"))
            return scopeList();
        if (kind == QLatin1String("sticket"))
            return schedulingTicket(login, scope);
        if (kind == QLatin1String("scna"))
            return reservation(login, scope, value(query, "auth"));
        if (kind == QLatin1String("ticket"))
            return sessionTicket(login, scope);
        return sessionRequest(kind, query);
    }
    if (path == QLatin1String("/cgi-bin/ocount")) {
        const QString slide = value(query, "s");
        if (kind != QLatin1String("sl") || !knownSlide(slide))
            return SimReply::notFound();
        return SimReply::text(m_slides.marksText(slide));
    }
    if (path == QLatin1String("/cgi-bin/otruth"))
        return truth(query);
    if (kind.isEmpty())
        return SimReply::notFound();
    const QString slide = path.mid(kind.size() + 2);
    if (!knownSlide(slide))
        return SimReply::notFound();
    if (kind == QLatin1String("small_slides"))
        return SimReply::jpeg(m_slides.overviewJpeg(slide));
    if (kind == QLatin1String("whole_slides"))
        return SimReply::jpeg(m_slides.wholeSlideJpeg(slide));
    return SimReply::text(m_slides.fiducialsText(slide));
}

SimReply OrvexServer::truth(const QUrlQuery& query)
{
    const QString slide = value(query, "s");
    double x, y;
    if (!knownSlide(slide) || !number(query, "x", &x) || !number(query, "y", &y))
        return SimReply::notFound();
    if (value(query, "f") == QLatin1String("region"))
        return TruthRequest::answer(m_slides.slide(slide), query);
    return ThickSpecimen::truthReply(m_slides, value(query, "f"), slide, x, y, value(query, "ps").toInt());
}

SimReply OrvexServer::scopeList() const
{
    QString text = !m_banner.isNull() ? m_banner
                                      : QStringLiteral("Orvex test server, simulated instruments\n"
                                                       "Every microscope here is simulated; the slides are synthetic.\n"
                                                       "Control sessions last %1 minutes.\n")
                                            .arg(m_options.sessionSeconds / 60);
    for (const Scope& s : m_scopes) {
        text += (s.inUse ? QLatin1Char('$') : QLatin1Char('#')) + s.name + QLatin1Char('\n');
        text += s.description + QStringLiteral("\n^\n");
        for (const QString& slide : s.slides)
            text += slide + QStringLiteral(" synthetic tissue section\n");
        text += QStringLiteral("^\n");
    }
    return SimReply::text(text.toLatin1());
}

SimReply OrvexServer::schedulingTicket(const QString& login, const QString& scope)
{
    const auto it = m_accounts.constFind(login);
    if (it == m_accounts.constEnd())
        return SimReply::text("-UNKNOWN_USER");
    if (!findScope(scope))
        return SimReply::text("-UNKNOWN_SCOPE");
    const quint32 challenge = nextNumber();
    m_challenges.insert(key(login, scope), challenge);
    return SimReply::text("+OK " + QByteArray::number(SimAuth::scramble(challenge, it->password), 16));
}

SimReply OrvexServer::reservation(const QString& login, const QString& scope, const QString& token)
{
    const auto account = m_accounts.constFind(login);
    // each scheduling challenge serves one reservation attempt
    const auto challenge = m_challenges.constFind(key(login, scope));
    if (account == m_accounts.constEnd() || challenge == m_challenges.constEnd())
        return SimReply::text("-BAD_AUTH");
    const quint32 number = challenge.value();
    m_challenges.remove(key(login, scope));
    if (!SimAuth::verify(token, number, account->password))
        return SimReply::text("-BAD_AUTH");
    if (!authorized(login, scope))
        return SimReply::text("-NO_AUTHORIZATION");
    if (m_scheduled.contains(key(login, scope)))
        return SimReply::text("-DOUBLE_DIPPING");
    schedule(login, scope);
    return SimReply::text("+NOW scheduled\n");
}

SimReply OrvexServer::sessionTicket(const QString& login, const QString& scope)
{
    const auto account = m_accounts.constFind(login);
    if (account == m_accounts.constEnd() || !findScope(scope))
        return SimReply::text("-NO_AUTHORIZATION");
    if (!m_scheduled.contains(key(login, scope)))
        return SimReply::text(authorized(login, scope) ? "-UNSCHEDULED" : "-NO_AUTHORIZATION");
    Grant g;
    g.ticket = nextNumber();
    g.endsMs = now() + qint64(m_options.sessionSeconds) * 1000;
    m_grants.insert(key(login, scope), g);
    return SimReply::text("+T " + QByteArray::number(SimAuth::scramble(g.ticket, account->password), 16));
}

QString OrvexServer::checkControl(const QString& login, const QString& scope, const QUrlQuery& query) const
{
    const auto account = m_accounts.constFind(login);
    if (account == m_accounts.constEnd())
        return QStringLiteral("-UNKNOWN_USER");
    const auto grant = m_grants.constFind(key(login, scope));
    if (grant == m_grants.constEnd())
        return QStringLiteral("-NO_SESSION");
    if (now() >= grant->endsMs)
        return QStringLiteral("-SESSION_EXPIRED");
    const QString token = value(query, "auth");
    if (token.isEmpty())
        return QStringLiteral("-NO_AUTH");
    if (!SimAuth::verify(token, grant->ticket, account->password))
        return QStringLiteral("-BAD_AUTH");
    return QString();
}

SimReply OrvexServer::sessionRequest(const QString& kind, const QUrlQuery& query)
{
    const QString login = value(query, "l");
    Scope* scope = findScope(value(query, "s"));
    if (!scope)
        return SimReply::text("-UNKNOWN_SCOPE\n");
    static const QStringList controls = {QStringLiteral("m"), QStringLiteral("mb"), QStringLiteral("w"),
                                         QStringLiteral("a"), QStringLiteral("r"),  QStringLiteral("cj")};
    if (controls.contains(kind)) {
        const QString refusal = checkControl(login, scope->name, query);
        if (!refusal.isEmpty())
            return SimReply::text(refusal.toLatin1() + '\n');
    }
    if (kind == QLatin1String("d"))
        return systemInfo(*scope);
    if (kind == QLatin1String("t")) {
        const auto grant = m_grants.constFind(key(login, scope->name));
        const qint64 left = grant == m_grants.constEnd() ? 0 : std::max<qint64>(0, (grant->endsMs - now()) / 1000);
        return SimReply::text(QByteArray::number(left) + '\n');
    }
    if (kind == QLatin1String("m") || kind == QLatin1String("mb"))
        return move(*scope, query, kind == QLatin1String("mb"));
    if (kind == QLatin1String("w"))
        return where(*scope);
    if (kind == QLatin1String("a") || kind == QLatin1String("r"))
        return focus(*scope, kind == QLatin1String("r"));
    if (kind == QLatin1String("p") || kind == QLatin1String("inset"))
        return picture(*scope, query);
    if (kind == QLatin1String("cj"))
        return createJob(login, *scope, query);
    return SimReply::text("-UNKNOWN_REQUEST\n");
}

QByteArray OrvexServer::positionReply(const Scope& scope) const
{
    double x, y, z;
    scope.stage.position(now(), &x, &y, &z);
    const char status = scope.stage.moving(now()) ? '*' : '+';
    const auto put = m_options.legacy ? decimals : units;
    return status + put(x) + ' ' + put(y) + ' ' + put(z) + '\n';
}

SimReply OrvexServer::move(Scope& scope, const QUrlQuery& query, bool stack)
{
    double x, y, z;
    if (!number(query, "x", &x) || !number(query, "y", &y) || !number(query, "z", &z))
        return SimReply::text("-BAD_COORDINATES\n");
    const qint64 duration = scope.stage.moveTo(x, y, z, m_options.stageSpeed, now());
    if (!stack) {
        double tx, ty, tz;
        scope.stage.target(&tx, &ty, &tz);
        scope.landingError = StageError::landing(m_options.seed, tx, ty, m_options.stageErrorUm * 10.0);
        return SimReply::text(positionReply(scope));
    }
    // a stack move answers once the stage has arrived
    double tx, ty, tz;
    scope.stage.target(&tx, &ty, &tz);
    return SimReply::text('+' + units(tx) + ' ' + units(ty) + ' ' + units(tz) + '\n', int(duration));
}

SimReply OrvexServer::where(Scope& scope)
{
    return SimReply::text(positionReply(scope));
}

SimReply OrvexServer::focus(Scope& scope, bool accurate)
{
    double x, y, z;
    scope.stage.target(&x, &y, &z);
    int exposures = 0;
    const double best = SlideRenderer::autofocus(slideUnder(scope), x, y, accurate, m_options.seed, &exposures);
    // the sweep: one stage settle and exposure per z tried
    const qint64 busy = scope.stage.remainingMs(now()) + std::llround(exposures * m_options.focusExposureMs);
    scope.stage.moveOver(x, y, best, busy, now());
    return SimReply::text('+' + units(x) + ' ' + units(y) + ' ' + units(std::trunc(best)) + '\n', int(busy));
}

SimReply OrvexServer::picture(Scope& scope, const QUrlQuery& query)
{
    static const int widths[] = {640, 800, 1024, 1280};
    static const int heights[] = {480, 600, 768, 960};
    bool ok = false;
    const int size = value(query, "ps").toInt(&ok);
    if (!ok || size < 1 || size > 4)
        return SimReply::text("-BAD_PICTURE_SIZE\n");
    const int w = widths[size - 1], h = heights[size - 1];
    double x, y, z;
    scope.stage.position(now(), &x, &y, &z);
    x += scope.landingError.x();
    y += scope.landingError.y();
    const quint32 seed = SimNoise::hash(m_options.seed ^ static_cast<quint32>(size),
                                        static_cast<quint32>(qint64(x)) * 31u ^ static_cast<quint32>(qint64(y)),
                                        static_cast<quint32>(qint64(z * 8.0)));
    QImage img = SlideRenderer::frame(slideUnder(scope), x, y, z, w, h, seed);
    m_options.camera.apply(&img);
    if (value(query, "inset") == QLatin1String("1")) {
        const int left = std::clamp(value(query, "x").toInt(), 0, w - kInsetWidth);
        const int top = std::clamp(value(query, "y").toInt(), 0, h - kInsetHeight);
        img = img.copy(left, top, kInsetWidth, kInsetHeight);
    }
    return SimReply::jpeg(SlideLibrary::encodeJpeg(img, m_options.jpegQuality));
}

SimReply OrvexServer::createJob(const QString& login, Scope& scope, const QUrlQuery& query)
{
    bool ok = false;
    const int density = value(query, "ld").toInt(&ok);
    if (!ok || density < 1 || density > 10)
        return SimReply::text("-BAD_DENSITY\n");
    double tlx, tly, brx, bry;
    if (!number(query, "tlx", &tlx) || !number(query, "tly", &tly) || !number(query, "brx", &brx) ||
        !number(query, "bry", &bry))
        return SimReply::text("-BAD_CORNERS\n");
    const auto inside = [](double v, double max) { return v >= 0.0 && v <= max; };
    if (!inside(tlx, SimStage::kMaxX) || !inside(brx, SimStage::kMaxX) || !inside(tly, SimStage::kMaxY) ||
        !inside(bry, SimStage::kMaxY))
        return SimReply::text("-OUTSIDE_TRAVEL\n");
    if (brx <= tlx || bry <= tly)
        return SimReply::text("-EMPTY_REGION\n");
    const QString name = value(query, "n");
    if (name.trimmed().isEmpty())
        return SimReply::text("-NO_NAME\n");
    if (name.size() > 200)
        return SimReply::text("-NAME_TOO_LONG\n");
    for (const QChar c : name)
        if (c.category() == QChar::Other_Control)
            return SimReply::text("-BAD_NAME\n");
    const qint64 columns = static_cast<qint64>(std::ceil((brx - tlx) * 0.0001 * density));
    const qint64 rows = static_cast<qint64>(std::ceil((bry - tly) * 0.0001 * density));
    const QString id = QStringLiteral("J%1").arg(++m_jobCounter, 4, 10, QLatin1Char('0'));
    const QString line = QStringLiteral("%1 l=%2 s=%3 ld=%4 tlx=%5 tly=%6 brx=%7 bry=%8 points=%9 n=%10")
                             .arg(id, login, scope.name)
                             .arg(density)
                             .arg(qint64(tlx))
                             .arg(qint64(tly))
                             .arg(qint64(brx))
                             .arg(qint64(bry))
                             .arg(columns * rows)
                             .arg(name);
    m_jobs.append(line);
    log(QStringLiteral("# job ") + line);
    return SimReply::text('+' + id.toLatin1() + " queued " + QByteArray::number(columns * rows) + " points\n");
}

SimReply OrvexServer::systemInfo(const Scope& scope) const
{
    QString text = QStringLiteral("%1 %1\n").arg(kMicronsPerPixel);
    text += QStringLiteral("Orvex simulated microscope %1\n").arg(scope.name);
    text += QStringLiteral("Camera: %1 um per pixel at every picture size\n").arg(kMicronsPerPixel);
    text += QStringLiteral("Stage travel 75.67 x 50.325 mm, focus 0 to 3000 um\n");
    if (!scope.slides.isEmpty())
        text += QStringLiteral("Slide on the stage: %1\n").arg(scope.slides.first());
    return SimReply::text(text.toUtf8());
}
