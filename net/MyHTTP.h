#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <vector>

class QNetworkReply;

// One asynchronous HTTP GET at a time. The whole reply body is collected in a
// growable buffer owned by the fetcher; the buffer only grows and is reused by
// every later request, so a fetcher used again and again allocates nothing for
// replies that fit. Owners read the bytes in the slot connected to done().
class MyHTTP : public QObject
{
    Q_OBJECT

public:
    static constexpr int defaultStallTimeoutMs = 60000;
    static constexpr qint64 defaultMaxBytes = 64 * 1024 * 1024;

    MyHTTP();
    ~MyHTTP() override;

    // Replaces the URL of the following requests. A request still in flight is
    // aborted and reports nothing; the fetcher is ready again at once.
    void setUrl(const QString& url);
    // Begins the GET of the URL given to setUrl; ignored while busy and before
    // any setUrl.
    void start();

    char* data() { return buffer.data(); }
    const char* data() const { return buffer.data(); }
    int length() const { return received; }
    bool isBusy() const { return busy; }
    bool succeeded() const { return lastSucceeded; }
    // Size of the receive buffer in bytes: at least length() + 1 after a chunk.
    unsigned capacity() const { return static_cast<unsigned>(buffer.size()); }
    QString url() const { return currentUrl; }
    // Why the last request failed, for owners that show a reason.
    QString errorString() const { return lastError; }

    // A transfer that makes no progress for this long is aborted and fails.
    void setStallTimeout(int ms) { stallTimeoutMs = ms; }
    int stallTimeout() const { return stallTimeoutMs; }
    // Bounds the stall timeout of every fetcher's later requests (0 lifts the
    // bound), so fault tests need not wait out the ten-minute autofocus limit.
    static void setStallTimeoutCap(int ms);
    // A body larger than this is aborted and fails.
    void setMaxBytes(qint64 bytes) { maxBytes = bytes; }

    int requestTag = -1;

signals:
    void done(int tag);
    void done();
    void progress(int bytesDone, int bytesTotal);

public slots:
    void getData(const QByteArray& chunk);
    void updateProgress(qint64 bytesDone, qint64 bytesTotal);
    void opComplete();

private:
    void abandon();
    void finish(bool ok, const QString& error);
    void readAvailable();

    std::vector<char> buffer;
    int received = 0;
    bool busy = false;
    bool lastSucceeded = false;
    QString currentUrl;
    QUrl requestUrl;
    QString lastError;
    QPointer<QNetworkReply> reply;
    int stallTimeoutMs = defaultStallTimeoutMs;
    static int stallTimeoutCapMs;
    qint64 maxBytes = defaultMaxBytes;
    bool overflowed = false;
    // Tells a queued failure report of an abandoned request from the current one.
    quint64 generation = 0;
};
