#pragma once

#include <QImage>
#include <QList>
#include <QWidget>

// Shows one picture of a focus stack at a time, stretched over the widget.
class VideoStack : public QWidget
{
    Q_OBJECT

public:
    explicit VideoStack(QWidget* parent = nullptr, const char* name = nullptr);

    // Empties the stack before a new acquisition; does not redraw by itself.
    void clear();
    int count() const { return static_cast<int>(pictures.size()); }
    int currentIndex() const { return current; }

public slots:
    void addImage(QImage& picture);
    // Indices outside the list are ignored.
    void displayImage(int index);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QList<QImage> pictures;
    int current = -1;
};
