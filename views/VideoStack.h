#pragma once

#include "views/StackPlane.h"

#include <QImage>
#include <QList>
#include <QWidget>

// Shows one picture of a focus stack at a time, stretched over the widget.
// Whole frames are kept compressed and only the shown one is decoded.
class VideoStack : public QWidget
{
    Q_OBJECT

public:
    explicit VideoStack(QWidget* parent = nullptr, const char* name = nullptr);

    // Empties the stack before a new acquisition; does not redraw by itself.
    void clear();
    int count() const { return static_cast<int>(pictures.size()); }
    int currentIndex() const { return current; }
    // Appends a whole frame as the JPEG bytes it came in, and shows it.
    void addEncoded(const QByteArray& jpeg, const QImage& decoded);
    const QList<StackPlane>& planes() const { return pictures; }

public slots:
    void addImage(QImage& picture);
    // Indices outside the list are ignored.
    void displayImage(int index);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void showPlane(int index, const QImage& picture);

    QList<StackPlane> pictures;
    int current = -1;
    // The shown picture, decoded and reduced to the widget once.
    QImage shown;
};
