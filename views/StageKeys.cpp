#include "views/StageKeys.h"

#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace {

bool usesStepKeys(const QWidget* focus)
{
    if (const auto* line = qobject_cast<const QLineEdit*>(focus))
        return !line->isReadOnly();
    if (const auto* plain = qobject_cast<const QPlainTextEdit*>(focus))
        return !plain->isReadOnly();
    if (const auto* text = qobject_cast<const QTextEdit*>(focus))
        return !text->isReadOnly();
    return qobject_cast<const QAbstractSpinBox*>(focus) || qobject_cast<const QAbstractSlider*>(focus) ||
           qobject_cast<const QComboBox*>(focus) || qobject_cast<const QAbstractItemView*>(focus);
}

} // namespace

StageKeys::StageKeys(QObject* parent)
    : QObject(parent)
{
    qApp->installEventFilter(this);
}

void StageKeys::watch(QWidget* window)
{
    windows.append(window);
}

bool StageKeys::stepFor(int key, Qt::KeyboardModifiers modifiers, float* across, float* down, float* zMicrometres)
{
    const Qt::KeyboardModifiers other = modifiers & ~(Qt::ShiftModifier | Qt::KeypadModifier);
    if (other != Qt::NoModifier)
        return false;
    const bool fine = modifiers & Qt::ShiftModifier;
    const float field = fine ? 0.1f : 0.5f;
    const float focus = fine ? 10.0f : 2.0f;
    *across = *down = *zMicrometres = 0.0f;
    switch (key) {
    case Qt::Key_Left:
        *across = -field;
        return true;
    case Qt::Key_Right:
        *across = field;
        return true;
    case Qt::Key_Up:
        *down = -field;
        return true;
    case Qt::Key_Down:
        *down = field;
        return true;
    case Qt::Key_PageUp:
        *zMicrometres = focus;
        return true;
    case Qt::Key_PageDown:
        *zMicrometres = -focus;
        return true;
    default:
        return false;
    }
}

bool StageKeys::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return false;
    QWidget* active = QApplication::activeWindow();
    if (!active || static_cast<QWidget*>(watched)->window() != active || !windows.contains(active))
        return false;
    const QWidget* focus = QApplication::focusWidget();
    if (focus && usesStepKeys(focus))
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    float across, down, z;
    if (!stepFor(key->key(), key->modifiers(), &across, &down, &z))
        return false;
    emit stepRequested(across, down, z);
    return true;
}
