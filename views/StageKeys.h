#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

class QWidget;

// Turns the arrow keys and Page Up / Page Down into stage steps while one of
// the watched windows is active and the focused control does not use those
// keys itself (text fields, spin boxes, sliders, lists).
class StageKeys : public QObject
{
    Q_OBJECT

public:
    explicit StageKeys(QObject* parent = nullptr);

    void watch(QWidget* window);

    // The step a key asks for: across and down in fields of view, z in
    // micrometres; false for keys that are not stage steps.
    static bool stepFor(int key, Qt::KeyboardModifiers modifiers, float* across, float* down, float* zMicrometres);

signals:
    void stepRequested(float across, float down, float zMicrometres);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QList<QPointer<QWidget>> windows;
};
