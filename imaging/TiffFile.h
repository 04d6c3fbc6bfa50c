#pragma once

#include <QByteArray>
#include <QString>
#include <opencv2/core.hpp>

typedef struct tiff TIFF;

// One libtiff handle with its own error handler: messages land in error()
// instead of on stderr, and the first one fails the operation. For writing,
// the file is made under a temporary name in the target's folder and only
// commit() puts it in place; otherwise the destructor removes it.
class TiffFile
{
public:
    TiffFile() = default;
    ~TiffFile();
    TiffFile(const TiffFile&) = delete;
    TiffFile& operator=(const TiffFile&) = delete;

    bool openRead(const QString& path, qint64 maxAllocation);
    // bigTiff when the data may pass 4 GB; classic TIFF otherwise, which every reader knows.
    bool openWrite(const QString& path, bool bigTiff);
    // One directory: 8 or 16-bit grey or RGB (deflate, horizontal predictor)
    // or 32-bit float (deflate); the description goes in ImageDescription when given.
    bool writeImage(const cv::Mat& image, const QByteArray& description);
    // The pixel size, in µm, of the directories written next (0: unknown).
    void setPixelSize(double umPerPxX, double umPerPxY);
    // XResolution and YResolution in pixels per centimetre for readers that
    // ignore the OME-XML; nothing when the size is unknown.
    static bool writeResolution(TIFF* tif, double umPerPxX, double umPerPxY);
    // Replaces the first directory's ImageDescription with one of the same or
    // different length once all directories are written.
    bool rewriteFirstDescription(const QByteArray& description);
    bool commit();
    void discard();

    TIFF* handle() const { return m_tif; }
    // The current directory's ImageDescription, empty when it has none.
    QByteArray description() const;
    const QString& error() const { return m_error; }
    bool failed() const { return !m_error.isEmpty(); }
    void fail(const QString& message);

private:
    static int onError(TIFF*, void* self, const char* module, const char* fmt, va_list ap);
    static int onWarning(TIFF*, void*, const char*, const char*, va_list);
    bool close();

    TIFF* m_tif = nullptr;
    QString m_path, m_tempPath, m_error;
    double m_umPerPxX = 0, m_umPerPxY = 0;
};
