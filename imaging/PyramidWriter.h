#pragma once

#include <QSize>
#include <QString>
#include <atomic>
#include <functional>

namespace cv {
class Mat;
}
struct OmeImage;

// Writes a large RGB picture as a tiled (512 x 512), compressed, pyramidal
// OME-TIFF: the full resolution as the first image, each level half the size
// of the one above, down to at most 1024 pixels on the long side, as its
// SubIFDs. The picture arrives band by band from a source, so memory stays a
// few bands whatever the size; the file is written under a temporary name and
// renamed when complete, and removed on cancel or the first error.
class PyramidWriter
{
public:
    enum class Compression { Deflate, Jpeg };
    static constexpr int kTile = 512;
    static constexpr int kSmallestLevel = 1024;

    // Fills out with rows [y, y + rows) of the picture as CV_8UC3 RGB, full width.
    using BandSource = std::function<bool(int y, int rows, cv::Mat* out, QString* error)>;
    using Progress = std::function<void(double fraction)>;

    void setCompression(Compression c, int jpegQuality = 90);
    void setProgress(Progress progress) { m_progress = std::move(progress); }
    void setCancelFlag(const std::atomic<bool>* cancel) { m_cancel = cancel; }
    // Also measures: with fullLevelOnly set, the reduced levels are left out.
    void setFullLevelOnly(bool on) { m_fullOnly = on; }

    // meta gives the name, date, physical size and plane position; sizes are filled in.
    bool write(const QString& path, QSize size, const OmeImage& meta, const BandSource& source, QString* error);

    // Sizes of all levels for a picture, the full resolution first.
    static QVector<QSize> levelSizes(QSize size);

private:
    struct Run;
    Compression m_compression = Compression::Deflate;
    int m_jpegQuality = 90;
    Progress m_progress;
    const std::atomic<bool>* m_cancel = nullptr;
    bool m_fullOnly = false;
};
