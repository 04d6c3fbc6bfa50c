#include "FuzzInput.h"

#include "views/ChannelStatistics.h"
#include "views/FilterPipeline.h"

#include <QBuffer>
#include <QByteArray>
#include <QCoreApplication>
#include <QImage>
#include <QImageReader>

namespace {

// Larger frames only slow the search down; the readers do the same per pixel.
constexpr int maxSide = 2048;

void ensureApplication()
{
    // Never destroyed: tearing it down after the fuzzer's exit handlers have
    // run crashes inside Qt.
    static QCoreApplication* app = nullptr;
    if (app)
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz_jpeg";
    static char* argv[] = {name, nullptr};
    app = new QCoreApplication(argc, argv);
}

void checkStatistics(const ChannelStatistics& statistics)
{
    for (int c = 0; c < 3; ++c) {
        fuzzCheck(statistics.minimum[c] >= 0 && statistics.maximum[c] <= 255, "level outside 0..255");
        fuzzCheck(statistics.range[c] == statistics.maximum[c] - statistics.minimum[c], "range not max - min");
        fuzzCheck(statistics.range[c] >= 0, "negative range");
    }
}

void filter(const QImage& frame, const FilterPipeline::Settings& settings, int width, int height)
{
    const FilterPipeline pipeline(settings);
    QImage picture = frame;
    pipeline.apply(picture, width, height);
    if (pipeline.isIdentity())
        return;
    fuzzCheck(picture.size() == frame.size(), "filtering changed the picture size");
    const QImage original = frame.convertToFormat(QImage::Format_RGB32);
    const int w = qMin(width, picture.width());
    const int h = qMin(height, picture.height());
    // A diagonal of samples, checked against the per-channel tables.
    for (int i = 0; i < qMin(w, h); i += 7) {
        const QRgb in = original.pixel(i, i);
        const QRgb out = picture.pixel(i, i);
        fuzzCheck(qAlpha(out) == 255, "filtered pixel not opaque");
        const int levels[3] = {qRed(in), qGreen(in), qBlue(in)};
        const int outputs[3] = {qRed(out), qGreen(out), qBlue(out)};
        for (int c = 0; c < 3; ++c)
            fuzzCheck(outputs[c] == pipeline.level(c, levels[pipeline.sourceChannel(c)]),
                      "pixel differs from its channel table");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ensureApplication();
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "JPEG");
    const QSize declared = reader.size();
    if (!declared.isValid() || declared.width() > maxSide || declared.height() > maxSide)
        return 0;
    QImage frame;
    if (!frame.loadFromData(bytes, "JPEG") || frame.width() > maxSide || frame.height() > maxSide)
        return 0;

    ChannelStatistics statistics;
    statistics.compute(frame);
    checkStatistics(statistics);

    // The settings come from the tail of the input, so the search varies them too.
    const quint8 knobs = size ? data[size - 1] : 0;
    FilterPipeline::Settings settings;
    settings.statistics = statistics;
    filter(frame, settings, frame.width(), frame.height());

    settings.contrast = knobs & 1;
    settings.channel = (knobs >> 1) & 3;
    settings.brightnessOn = (knobs >> 3) & 1;
    settings.brightness = 20.0f + static_cast<float>((knobs >> 4) * 12);
    settings.colourFilter = (knobs >> 4) & 3;
    settings.invert = (knobs >> 6) & 1;
    filter(frame, settings, frame.width() / 2 + 1, frame.height());

    settings.channel = 3;
    settings.invert = true;
    settings.brightnessOn = true;
    settings.brightness = 200.0f;
    filter(frame.convertToFormat(QImage::Format_Grayscale8), settings, frame.width(), frame.height());
    return 0;
}
