#include "views/SaveImageDialog.h"

SaveImageDialog::SaveImageDialog(QWidget* parent, const QString& caption, const QString& suggestedName,
                                 PictureExport::Format first)
    : QFileDialog(parent, caption)
{
    setObjectName(QStringLiteral("file dialog"));
    setFileMode(QFileDialog::AnyFile);
    setModal(true);
    setOption(QFileDialog::DontUseNativeDialog);
    setAcceptMode(QFileDialog::AcceptSave);
    setNameFilters({filterOf(PictureExport::Jpeg), filterOf(PictureExport::Png), filterOf(PictureExport::OmeTiff)});
    selectNameFilter(filterOf(first));
    setDefaultSuffix(PictureExport::suffixOf(first));
    connect(this, &QFileDialog::filterSelected, this, [this] { setDefaultSuffix(PictureExport::suffixOf(chosen())); });
    selectFile(suggestedName);
}

QString SaveImageDialog::filterOf(PictureExport::Format format)
{
    switch (format) {
    case PictureExport::Png:
        return tr("PNG pictures (*.png)");
    case PictureExport::OmeTiff:
        return tr("OME-TIFF pictures (*.ome.tif *.ome.tiff)");
    case PictureExport::Jpeg:
        break;
    }
    return tr("JPEG pictures (*.jpg *.jpeg)");
}

PictureExport::Format SaveImageDialog::chosen() const
{
    const QString filter = selectedNameFilter();
    for (PictureExport::Format format : {PictureExport::Png, PictureExport::OmeTiff})
        if (filter == filterOf(format))
            return format;
    return PictureExport::Jpeg;
}

PictureExport::Format SaveImageDialog::format() const
{
    return PictureExport::formatOf(fileName(), chosen());
}

void SaveImageDialog::accept()
{
    const QString name = selectedFiles().value(0);
    // Names such as "slide_x37.8350_y25.1625_..." have a dot but no picture suffix.
    if (!name.isEmpty() && !QFileInfo(name).isDir() && !PictureExport::hasPictureSuffix(name))
        selectFile(name + QLatin1Char('.') + PictureExport::suffixOf(chosen()));
    QFileDialog::accept();
}
