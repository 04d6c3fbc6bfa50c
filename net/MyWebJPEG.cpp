#include "net/MyWebJPEG.h"

MyWebJPEG::MyWebJPEG()
{
    connect(&fetcher, qOverload<>(&MyHTTP::done), this, &MyWebJPEG::dataReady);
}

void MyWebJPEG::setUrl(const char* url)
{
    setUrl(QString::fromLatin1(url));
}

void MyWebJPEG::setUrl(const QString& url)
{
    currentUrl = url;
    fetcher.setUrl(url);
}

void MyWebJPEG::get()
{
    fetcher.start();
}

void MyWebJPEG::dataReady()
{
    if (!fetcher.succeeded()) {
        emit fetchFailed();
        return;
    }
    const auto* data = reinterpret_cast<const uchar*>(fetcher.data());
    // An undecodable reply keeps the previous picture, and receivers get that
    // one again. Qt's loadFromData empties the picture on failure, so decode
    // into a fresh one first.
    if (mode == 1) {
        QImage decoded;
        if (decoded.loadFromData(data, fetcher.length(), "JPEG")) {
            image = decoded;
            bytes = QByteArray(fetcher.data(), fetcher.length());
        } else
            emit decodeFailed();
        emit newImageAvailable(image);
    } else if (mode == 0) {
        QPixmap decoded;
        if (decoded.loadFromData(data, static_cast<uint>(fetcher.length()), "JPEG"))
            pixmap = decoded;
        else
            emit decodeFailed();
        emit newPixmapAvailable(pixmap);
    }
}
