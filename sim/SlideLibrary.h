#pragma once

#include "sim/SlideModel.h"

#include <QByteArray>
#include <QHash>
#include <QImage>
#include <QString>
#include <memory>

// The server's slides: models made on first use, and the large pictures and
// text files of each slide, encoded once and kept.
class SlideLibrary
{
public:
    explicit SlideLibrary(quint32 seed)
        : m_seed(seed)
    {
    }
    const SlideModel& slide(const QString& name);
    QByteArray overviewJpeg(const QString& name);
    QByteArray wholeSlideJpeg(const QString& name);
    QByteArray fiducialsText(const QString& name);
    QByteArray marksText(const QString& name);
    static QByteArray encodeJpeg(const QImage& image, int quality = 85);

private:
    quint32 m_seed;
    QHash<QString, std::shared_ptr<SlideModel>> m_slides;
    QHash<QString, QByteArray> m_overviews;
    QHash<QString, QByteArray> m_wholeSlides;
};
