#pragma once

#include "views/PictureExport.h"

#include <QFileDialog>

// The one dialog in which a picture is saved: JPEG, PNG or OME-TIFF, the
// suffix following the chosen type. Toolkit-drawn on every desktop, so the
// suffix, the types and the question before replacing a file behave alike;
// options for what to save go into its layout.
class SaveImageDialog : public QFileDialog
{
    Q_OBJECT

public:
    // suggestedName without a suffix; the first type is the one shown first.
    SaveImageDialog(QWidget* parent, const QString& caption, const QString& suggestedName,
                    PictureExport::Format first = PictureExport::Jpeg);

    PictureExport::Format format() const;
    QString fileName() const { return selectedFiles().value(0); }

    static QString filterOf(PictureExport::Format format);

public slots:
    // A name without a known suffix gets the chosen type's suffix before the
    // dialog checks whether the file exists.
    void accept() override;

private:
    PictureExport::Format chosen() const;
};
