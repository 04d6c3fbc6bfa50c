#include "FuzzInput.h"

#include "imaging/TileReader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // never destroyed: tearing it down after the fuzzer's exit handlers crashes inside Qt
    static int argc = 1;
    static char name[] = "fuzz_tilereader";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    (void)app;
    static const QString path =
        QDir::temp().filePath(QStringLiteral("fuzz_tilereader.%1.tif").arg(QCoreApplication::applicationPid()));

    const FuzzInput input(data, size);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(input.data(), input.length()) < 0)
        return 0;
    file.close();
    TileReader reader;
    QString error;
    if (!reader.open(path, &error)) {
        fuzzCheck(!error.isEmpty() && reader.levels(0).isEmpty(), "a failed open without message");
        return 0;
    }
    const int page = reader.planeCount() > 0 ? reader.pageOf(0, 0) : reader.heightPage();
    const QVector<TileReader::Level>& levels = reader.levels(page);
    fuzzCheck(!levels.isEmpty(), "an open file without levels");
    // The first tiles of every level: enough to reach each decoder path.
    for (int l = 0; l < levels.size(); ++l)
        for (int i = 0; i < 4; ++i) {
            const QPoint tile(i % 2, i / 2);
            cv::Mat out;
            if (!reader.readTile(page, l, tile, &out, &error))
                continue;
            fuzzCheck(out.cols > 0 && out.cols <= levels[l].tile.width() && out.rows > 0 &&
                          out.rows <= levels[l].tile.height() && out.type() == reader.pixelType(page),
                      "tile size or type");
        }
    return 0;
}
