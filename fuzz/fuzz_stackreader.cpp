#include "FuzzInput.h"

#include "imaging/OmeXml.h"
#include "imaging/StackReader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // never destroyed: tearing it down after the fuzzer's exit handlers crashes inside Qt
    static int argc = 1;
    static char name[] = "fuzz_stackreader";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    (void)app;
    static const QString path =
        QDir::temp().filePath(QStringLiteral("fuzz_stackreader.%1.tif").arg(QCoreApplication::applicationPid()));

    const FuzzInput input(data, size);
    // The OME-XML reader alone, on the bytes as a document.
    QVector<OmeImage> images;
    QString error;
    if (OmeXml::read(QByteArray::fromRawData(input.data(), input.length()), &images, &error)) {
        for (const OmeImage& image : images)
            fuzzCheck(image.physicalSizeXUm >= 0 && image.physicalSizeZUm >= 0, "negative physical size");
    } else {
        fuzzCheck(images.isEmpty() && !error.isEmpty(), "a failed read without message or with images");
    }

    // The stack reader, on the bytes as a file.
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(input.data(), input.length()) < 0)
        return 0;
    file.close();
    StackReader reader;
    if (!reader.open(path, &error)) {
        fuzzCheck(!error.isEmpty() && reader.planeCount() == 0, "a failed open without message");
        return 0;
    }
    fuzzCheck(reader.planeCount() > 0 && !reader.size().isEmpty(), "an open stack without planes");
    // larger planes only slow the search down
    if (qint64(reader.size().width()) * reader.size().height() * reader.channelCount() > (1 << 22))
        return 0;
    for (int i = 0; i < std::min(reader.planeCount(), 4); ++i) {
        cv::Mat plane;
        if (!reader.readPlane(i, &plane, &error))
            continue;
        fuzzCheck(plane.cols == reader.size().width() && plane.rows == reader.size().height(), "plane size");
        fuzzCheck(reader.channelCount() > 1 ? plane.channels() == reader.channelCount()
                                            : plane.channels() == 1 || plane.channels() == 3,
                  "plane channels");
    }
    return 0;
}
