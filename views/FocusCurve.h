#pragma once

#include <QVector>
#include <QWidget>

// A small plot of sharpness against z for one focus stack: the frame shown
// by the focus slider is marked, the sharpest frame highlighted; a stack
// without a clear sharpest frame says so instead.
class FocusCurve : public QWidget
{
    Q_OBJECT

public:
    explicit FocusCurve(QWidget* parent = nullptr, const char* name = nullptr);

    // z in stage units and sharpness, index for index; sharpest is -1 when no
    // frame stands out. An empty stack shows nothing.
    void setCurve(const QVector<double>& z, const QVector<double>& sharpness, int sharpest);
    int marked() const { return markedIndex; }
    int sharpest() const { return sharpestIndex; }

public slots:
    // Indices outside the curve are ignored.
    void setMarked(int index);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QVector<double> zs;
    QVector<double> values;
    int sharpestIndex = -1;
    int markedIndex = -1;
};
