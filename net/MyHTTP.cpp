#include "net/MyHTTP.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace {

constexpr unsigned initialCapacity = 256;
// A chunk that does not fit with one spare byte grows the buffer by its own
// size plus this much.
constexpr unsigned growthSlack = 25;

// One manager serves every fetcher of the process. It never uses a proxy: the
// client talks to the host the user typed and nowhere else.
QPointer<QNetworkAccessManager> manager;

// Deleted while the application is still whole: as one of its children it
// would go after the application object is half torn down, while its network
// thread may still deliver events through it.
void deleteSharedManager()
{
    delete manager.data();
}

QNetworkAccessManager& sharedManager()
{
    if (!manager) {
        manager = new QNetworkAccessManager(QCoreApplication::instance());
        manager->setProxy(QNetworkProxy::NoProxy);
        qAddPostRoutine(deleteSharedManager);
    }
    return *manager;
}

int clampToInt(qint64 value)
{
    return static_cast<int>(std::clamp<qint64>(value, -1, std::numeric_limits<int>::max()));
}

} // namespace

int MyHTTP::stallTimeoutCapMs = std::numeric_limits<int>::max();

MyHTTP::MyHTTP()
    : buffer(initialCapacity, 0)
{
}

void MyHTTP::setStallTimeoutCap(int ms)
{
    stallTimeoutCapMs = ms > 0 ? ms : std::numeric_limits<int>::max();
}

MyHTTP::~MyHTTP()
{
    abandon();
}

void MyHTTP::setUrl(const QString& url)
{
    abandon();
    currentUrl = url;
    requestUrl = QUrl(url);
}

void MyHTTP::start()
{
    if (busy || currentUrl.isEmpty())
        return;
    received = 0;
    busy = true;
    overflowed = false;
    lastError.clear();
    ++generation;

    if (!requestUrl.isValid() || requestUrl.scheme() != QLatin1String("http") || requestUrl.host().isEmpty()) {
        // An address that cannot form a URL fails like an unreachable server,
        // and like every other failure it is reported from the event loop.
        const quint64 mine = generation;
        QTimer::singleShot(0, this, [this, mine] {
            if (busy && generation == mine)
                finish(false, QStringLiteral("The server address is not valid."));
        });
        return;
    }

    QNetworkRequest request(requestUrl);
    request.setTransferTimeout(std::min(stallTimeoutMs, stallTimeoutCapMs));
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    reply = sharedManager().get(request);
    connect(reply, &QNetworkReply::downloadProgress, this, &MyHTTP::updateProgress);
    connect(reply, &QNetworkReply::metaDataChanged, this, [this] {
        const QVariant declared = reply ? reply->header(QNetworkRequest::ContentLengthHeader) : QVariant();
        if (declared.isValid() && declared.toLongLong() > maxBytes) {
            overflowed = true;
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::readyRead, this, &MyHTTP::readAvailable);
    connect(reply, &QNetworkReply::finished, this, &MyHTTP::opComplete);
}

void MyHTTP::readAvailable()
{
    if (!reply)
        return;
    const QByteArray chunk = reply->readAll();
    if (received + chunk.size() > maxBytes) {
        overflowed = true;
        reply->abort();
        return;
    }
    getData(chunk);
}

void MyHTTP::getData(const QByteArray& chunk)
{
    const unsigned n = static_cast<unsigned>(chunk.size());
    if (received + n >= buffer.size())
        buffer.resize(buffer.size() + n + growthSlack);
    std::copy(chunk.constBegin(), chunk.constEnd(), buffer.begin() + received);
    received += static_cast<int>(n);
}

void MyHTTP::updateProgress(qint64 bytesDone, qint64 bytesTotal)
{
    emit progress(clampToInt(bytesDone), clampToInt(bytesTotal));
}

void MyHTTP::opComplete()
{
    QNetworkReply* finished = reply;
    if (!finished || sender() != finished)
        return;
    // Bytes that arrived together with the end of the transfer.
    if (!overflowed && finished->error() == QNetworkReply::NoError)
        readAvailable();

    bool ok = !overflowed && finished->error() == QNetworkReply::NoError;
    QString error;
    const int status = finished->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (overflowed) {
        error = QStringLiteral("The reply is larger than %1 bytes.").arg(maxBytes);
    } else if (finished->error() == QNetworkReply::OperationCanceledError) {
        error = QStringLiteral("The server stopped answering.");
    } else if (!ok) {
        error = finished->errorString();
    } else if (status < 200 || status > 299) {
        ok = false;
        error = QStringLiteral("The server answered with HTTP status %1.").arg(status);
    }
    finished->disconnect(this);
    finished->deleteLater();
    reply = nullptr;
    finish(ok, error);
}

void MyHTTP::finish(bool ok, const QString& error)
{
    busy = false;
    lastSucceeded = ok;
    lastError = error;
    emit done(requestTag);
    emit done();
}

void MyHTTP::abandon()
{
    ++generation;
    if (reply) {
        QNetworkReply* old = reply;
        reply = nullptr;
        old->disconnect(this);
        old->abort();
        old->deleteLater();
    }
    busy = false;
}
