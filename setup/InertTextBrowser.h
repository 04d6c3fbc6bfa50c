#pragma once

#include <QTextBrowser>

// Shows rich text that came from the server without acting on it: no picture
// or style sheet is loaded (an <img> naming a local file or a device would
// read it) and a link is not followed.
class InertTextBrowser : public QTextBrowser
{
    Q_OBJECT

public:
    explicit InertTextBrowser(QWidget* parent = nullptr);

    QVariant loadResource(int type, const QUrl& name) override;
};
