#pragma once

#include <QPair>
#include <QString>
#include <QVector>

// Where a picture came from, as every OME-TIFF Tessan writes carries it
// (OmeImage::provenance): the software, server, microscope, slide, user,
// the time of writing and the settings that made the picture.
namespace Provenance {

using KeyValues = QVector<QPair<QString, QString>>;

KeyValues of(const QString& server, const QString& microscope, const QString& slide, const QString& user,
             const QString& settings);

} // namespace Provenance
