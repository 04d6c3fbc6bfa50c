#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

class QWidget;

// Turns the arrow keys and Page Up / Page Down into stage steps while one of
// the watched windows is active and the keyboard is with that window itself
// or with one of the watched pictures. Every other control keeps its keys:
// text boxes scroll, tab bars switch, buttons and lists move their focus.
class StageKeys : public QObject
{
    Q_OBJECT

public:
    explicit StageKeys(QObject* parent = nullptr);

    void watch(QWidget* window);
    // A picture that steps the stage while it has the keyboard; a click gives it the keyboard.
    void watchPicture(QWidget* picture);

    // The step a key asks for: across and down in fields of view, z in
    // micrometres; false for keys that are not stage steps.
    static bool stepFor(int key, Qt::KeyboardModifiers modifiers, float* across, float* down, float* zMicrometres);

signals:
    void stepRequested(float across, float down, float zMicrometres);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QList<QPointer<QWidget>> windows;
    QList<QPointer<QWidget>> pictures;
};
