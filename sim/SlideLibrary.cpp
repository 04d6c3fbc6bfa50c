#include "sim/SlideLibrary.h"

#include "sim/SlideRenderer.h"

#include <QBuffer>
#include <QImageWriter>

const SlideModel& SlideLibrary::slide(const QString& name)
{
    auto it = m_slides.find(name);
    if (it == m_slides.end())
        it = m_slides.insert(name, std::make_shared<SlideModel>(name, m_seed));
    return *it.value();
}

QByteArray SlideLibrary::encodeJpeg(const QImage& image, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    writer.write(image);
    return bytes;
}

QByteArray SlideLibrary::overviewJpeg(const QString& name)
{
    auto it = m_overviews.find(name);
    if (it == m_overviews.end())
        it = m_overviews.insert(name, encodeJpeg(SlideRenderer::overview(slide(name), 766, 510)));
    return it.value();
}

QByteArray SlideLibrary::wholeSlideJpeg(const QString& name)
{
    auto it = m_wholeSlides.find(name);
    if (it == m_wholeSlides.end())
        it = m_wholeSlides.insert(name, encodeJpeg(SlideRenderer::wholeSlide(slide(name)), 80));
    return it.value();
}

QByteArray SlideLibrary::fiducialsText(const QString& name)
{
    const SlideModel::Fiducials& f = slide(name).fiducials();
    QByteArray out;
    for (const QPoint& p : f.p)
        out += QByteArray::number(p.x()) + '\n' + QByteArray::number(p.y()) + '\n';
    out += QByteArray::number(f.widthMm, 'f', 3) + '\n' + QByteArray::number(f.heightMm, 'f', 3) + '\n';
    return out;
}

QByteArray SlideLibrary::marksText(const QString& name)
{
    QByteArray out;
    for (const SlideModel::Mark& m : slide(name).marks())
        out += m.word.toUtf8() + ' ' + QByteArray::number(m.x, 'f', 0) + ' ' + QByteArray::number(m.y, 'f', 0) + '\n';
    return out;
}
