#include "setup/InertTextBrowser.h"

#include <QImage>
#include <QTextDocument>

InertTextBrowser::InertTextBrowser(QWidget* parent)
    : QTextBrowser(parent)
{
    setOpenLinks(false);
    setOpenExternalLinks(false);
}

QVariant InertTextBrowser::loadResource(int type, const QUrl&)
{
    // An empty answer would make the document read the file itself, so every
    // request gets a harmless stand-in: an empty picture, or no text.
    if (type == QTextDocument::ImageResource) {
        QImage blank(1, 1, QImage::Format_ARGB32);
        blank.fill(Qt::transparent);
        return blank;
    }
    return QString();
}
