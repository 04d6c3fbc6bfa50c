#pragma once

#include "net/MyHTTP.h"

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QPixmap>
#include <QString>

// Fetches one JPEG picture per get() and hands the decoded picture to its
// receivers. Mode 1 decodes into a QImage, mode 0 into a QPixmap. A reply that
// does not decode leaves the held picture as it was and the signal still
// carries it, so receivers see the previous picture once more.
class MyWebJPEG : public QObject
{
    Q_OBJECT

public:
    MyWebJPEG();

    void setUrl(const char* url);
    void setUrl(const QString& url);
    QString url() const { return currentUrl; }
    void setMode(int m) { mode = m; }
    int currentMode() const { return mode; }

    // The bytes the server sent for the held image (mode 1), so a receiver can
    // keep a picture compressed; empty until a reply has decoded.
    const QByteArray& imageBytes() const { return bytes; }

    // The fetcher underneath, for progress reports and timeouts.
    MyHTTP& http() { return fetcher; }
    const MyHTTP& http() const { return fetcher; }

public slots:
    void dataReady();
    void get();

signals:
    void newImageAvailable(QImage& image);
    void newPixmapAvailable(QPixmap& pixmap);
    // Emitted instead of the picture signals when the request itself failed.
    void fetchFailed();
    // The reply arrived but was not a JPEG picture. Emitted just before the
    // picture signal, which carries the previous picture once more.
    void decodeFailed();

private:
    MyHTTP fetcher;
    QString currentUrl;
    QImage image;
    QByteArray bytes;
    QPixmap pixmap;
    int mode = 1;
};
