#include "imaging/TiffFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <tiffio.h>

TiffFile::~TiffFile()
{
    discard();
}

int TiffFile::onError(TIFF*, void* self, const char* module, const char* fmt, va_list ap)
{
    char text[512];
    vsnprintf(text, sizeof text, fmt, ap);
    auto* file = static_cast<TiffFile*>(self);
    file->fail(module && *module ? QStringLiteral("%1: %2").arg(QString::fromUtf8(module), QString::fromUtf8(text))
                                 : QString::fromUtf8(text));
    return 1;
}

// Warnings (unknown tags and the like) do not make a file unreadable.
int TiffFile::onWarning(TIFF*, void*, const char*, const char*, va_list)
{
    return 1;
}

void TiffFile::fail(const QString& message)
{
    if (m_error.isEmpty())
        m_error = message;
}

bool TiffFile::openRead(const QString& path, qint64 maxAllocation)
{
    discard();
    m_error.clear();
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, &TiffFile::onError, this);
    TIFFOpenOptionsSetWarningHandlerExtR(options, &TiffFile::onWarning, this);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, maxAllocation);
    m_tif = TIFFOpenExt(QFile::encodeName(path).constData(), "rm", options);
    TIFFOpenOptionsFree(options);
    if (!m_tif)
        m_error =
            m_error.isEmpty() ? QStringLiteral("not a TIFF file") : QStringLiteral("not a TIFF file (%1)").arg(m_error);
    return m_tif != nullptr;
}

bool TiffFile::openWrite(const QString& path, bool bigTiff)
{
    discard();
    m_error.clear();
    m_path = path;
    const QFileInfo info(path);
    QTemporaryFile temp(info.absoluteDir().filePath(QStringLiteral(".%1.XXXXXX").arg(info.fileName())));
    temp.setAutoRemove(false);
    if (!temp.open()) {
        fail(QStringLiteral("cannot write in %1: %2").arg(info.absolutePath(), temp.errorString()));
        return false;
    }
    m_tempPath = temp.fileName();
    temp.close();
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, &TiffFile::onError, this);
    TIFFOpenOptionsSetWarningHandlerExtR(options, &TiffFile::onWarning, this);
    m_tif = TIFFOpenExt(QFile::encodeName(m_tempPath).constData(), bigTiff ? "w8" : "w", options);
    TIFFOpenOptionsFree(options);
    if (!m_tif) {
        fail(QStringLiteral("cannot create %1").arg(path));
        discard();
        return false;
    }
    return true;
}

bool TiffFile::writeImage(const cv::Mat& image, const QByteArray& description)
{
    if (!m_tif || failed())
        return false;
    const bool isFloat = image.depth() == CV_32F;
    TIFFSetField(m_tif, TIFFTAG_IMAGEWIDTH, image.cols);
    TIFFSetField(m_tif, TIFFTAG_IMAGELENGTH, image.rows);
    TIFFSetField(m_tif, TIFFTAG_SAMPLESPERPIXEL, image.channels());
    TIFFSetField(m_tif, TIFFTAG_BITSPERSAMPLE, int(image.elemSize1() * 8));
    TIFFSetField(m_tif, TIFFTAG_SAMPLEFORMAT, isFloat ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT);
    TIFFSetField(m_tif, TIFFTAG_PHOTOMETRIC, image.channels() == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(m_tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(m_tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    // Camera noise leaves little to gain from harder work: the fastest level
    // is several times quicker and the file only about a tenth larger.
    TIFFSetField(m_tif, TIFFTAG_ZIPQUALITY, 1);
    TIFFSetField(m_tif, TIFFTAG_PREDICTOR, isFloat ? PREDICTOR_NONE : PREDICTOR_HORIZONTAL);
    TIFFSetField(m_tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(m_tif, 0));
    TIFFSetField(m_tif, TIFFTAG_SOFTWARE, "Tessan");
    writeResolution(m_tif, m_umPerPxX, m_umPerPxY);
    if (!description.isEmpty())
        TIFFSetField(m_tif, TIFFTAG_IMAGEDESCRIPTION, description.constData());
    for (int r = 0; r < image.rows && !failed(); ++r) {
        if (TIFFWriteScanline(m_tif, const_cast<uchar*>(image.ptr(r)), static_cast<uint32_t>(r), 0) < 0)
            fail(QStringLiteral("cannot write row %1").arg(r));
    }
    if (!failed() && !TIFFWriteDirectory(m_tif))
        fail(QStringLiteral("cannot write the image directory"));
    return !failed();
}

void TiffFile::setPixelSize(double umPerPxX, double umPerPxY)
{
    m_umPerPxX = umPerPxX;
    m_umPerPxY = umPerPxY;
}

bool TiffFile::writeResolution(TIFF* tif, double umPerPxX, double umPerPxY)
{
    if (!(umPerPxX > 0 && umPerPxY > 0 && std::isfinite(umPerPxX) && std::isfinite(umPerPxY)))
        return true;
    return TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER) &&
           TIFFSetField(tif, TIFFTAG_XRESOLUTION, float(1e4 / umPerPxX)) &&
           TIFFSetField(tif, TIFFTAG_YRESOLUTION, float(1e4 / umPerPxY));
}

QByteArray TiffFile::description() const
{
    char* text = nullptr;
    return m_tif && TIFFGetField(m_tif, TIFFTAG_IMAGEDESCRIPTION, &text) && text ? QByteArray(text) : QByteArray();
}

bool TiffFile::rewriteFirstDescription(const QByteArray& description)
{
    if (!m_tif || failed())
        return false;
    if (!TIFFSetDirectory(m_tif, 0) || !TIFFSetField(m_tif, TIFFTAG_IMAGEDESCRIPTION, description.constData()) ||
        !TIFFRewriteDirectory(m_tif))
        fail(QStringLiteral("cannot update the image description"));
    return !failed();
}

bool TiffFile::close()
{
    if (m_tif) {
        TIFFClose(m_tif);
        m_tif = nullptr;
    }
    return !failed();
}

bool TiffFile::commit()
{
    if (!close() || m_tempPath.isEmpty()) {
        discard();
        return false;
    }
    // rename() replaces an existing file in one step; a failed write leaves it untouched.
    if (std::rename(QFile::encodeName(m_tempPath).constData(), QFile::encodeName(m_path).constData()) != 0) {
        fail(QStringLiteral("cannot write %1").arg(m_path));
        discard();
        return false;
    }
    m_tempPath.clear();
    // The temporary file was private to us; the picture is an ordinary file.
    QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser |
                                      QFile::ReadGroup | QFile::ReadOther);
    return true;
}

void TiffFile::discard()
{
    if (m_tif) {
        TIFFClose(m_tif);
        m_tif = nullptr;
    }
    if (!m_tempPath.isEmpty())
        QFile::remove(m_tempPath);
    m_tempPath.clear();
}
