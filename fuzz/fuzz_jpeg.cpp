#include "FuzzInput.h"

#include "views/FilterPipeline.h"

#include <QCoreApplication>
#include <QImage>

namespace {

// Every sampled pixel is its channel table's level of the source pixel.
void filter(const QImage& frame, const FilterPipeline::Settings& settings, int width)
{
    const FilterPipeline pipeline(settings);
    QImage picture = frame;
    pipeline.apply(picture, width, frame.height());
    if (pipeline.isIdentity())
        return;
    fuzzCheck(picture.size() == frame.size(), "filtering changed the picture size");
    const QImage original = frame.convertToFormat(QImage::Format_RGB32);
    for (int i = 0; i < qMin(qMin(width, frame.width()), frame.height()); i += 7) {
        const QRgb in = original.pixel(i, i);
        const QRgb out = picture.pixel(i, i);
        const int levels[3] = {qRed(in), qGreen(in), qBlue(in)};
        const int outputs[3] = {qRed(out), qGreen(out), qBlue(out)};
        fuzzCheck(qAlpha(out) == 255, "filtered pixel not opaque");
        for (int c = 0; c < 3; ++c)
            fuzzCheck(outputs[c] == pipeline.level(c, levels[pipeline.sourceChannel(c)]), "pixel off its table");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // never destroyed: tearing it down after the fuzzer's exit handlers crashes inside Qt
    static int argc = 1;
    static char name[] = "fuzz_jpeg";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    (void)app;
    QImage frame;
    // larger frames only slow the search down
    if (!frame.loadFromData(data, int(size), "JPEG") || frame.width() > 2048 || frame.height() > 2048)
        return 0;
    FilterPipeline::Settings settings;
    settings.statistics.compute(frame);
    for (int c = 0; c < 3; ++c) {
        const ChannelStatistics& s = settings.statistics;
        fuzzCheck(s.minimum[c] >= 0 && s.maximum[c] <= 255 && s.range[c] == s.maximum[c] - s.minimum[c],
                  "levels outside 0..255 or range not max - min");
    }
    filter(frame, settings, frame.width());
    // the settings come from the input's last byte, so the search varies them too
    const quint8 knobs = data[size - 1];
    settings.contrast = knobs & 1;
    settings.channel = (knobs >> 1) & 3;
    settings.brightnessOn = (knobs >> 3) & 1;
    settings.brightness = 20.0f + float((knobs >> 4) * 12);
    settings.colourFilter = (knobs >> 4) & 3;
    settings.invert = (knobs >> 6) & 1;
    filter(frame, settings, frame.width() / 2 + 1);
    filter(frame.convertToFormat(QImage::Format_Grayscale8), settings, frame.width());
    return 0;
}
