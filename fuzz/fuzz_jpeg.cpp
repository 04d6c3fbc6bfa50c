#include "FuzzInput.h"

#include "bench/ReferenceFilters.h"
#include "views/FilterPipeline.h"

#include <QCoreApplication>
#include <QImage>

namespace {

// The folded table pipeline gives what the four passes one after another give.
void filter(const QImage& frame, const FilterPipeline::Settings& settings, int width)
{
    QImage picture = frame;
    FilterPipeline(settings).apply(picture, width, frame.height());
    QImage expected = frame.convertToFormat(QImage::Format_RGB32);
    reference::filter(expected, settings, width, frame.height());
    fuzzCheck(picture.convertToFormat(QImage::Format_RGB32) == expected, "filtered picture differs from the passes");
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
    // the reference reads pixel by pixel: larger frames only slow the search down
    if (!frame.loadFromData(data, int(size), "JPEG") || frame.width() > 640 || frame.height() > 640)
        return 0;
    FilterPipeline::Settings settings;
    settings.statistics.compute(frame);
    const ChannelStatistics counted = reference::statistics(frame.convertToFormat(QImage::Format_RGB32));
    for (int c = 0; c < 3; ++c)
        fuzzCheck(settings.statistics.minimum[c] == counted.minimum[c] &&
                      settings.statistics.maximum[c] == counted.maximum[c] &&
                      settings.statistics.range[c] == counted.range[c],
                  "channel statistics differ from a plain count");
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
