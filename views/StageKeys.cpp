#include "views/StageKeys.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

StageKeys::StageKeys(QObject* parent)
    : QObject(parent)
{
    qApp->installEventFilter(this);
}

void StageKeys::watch(QWidget* window)
{
    windows.append(window);
}

void StageKeys::watchPicture(QWidget* picture)
{
    if (picture->focusPolicy() == Qt::NoFocus)
        picture->setFocusPolicy(Qt::ClickFocus);
    pictures.append(picture);
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
    // An open menu or popup, or the menu bar in keyboard mode, keeps its keys.
    if (QApplication::activePopupWidget() || QWidget::keyboardGrabber())
        return false;
    const QWidget* focus = QApplication::focusWidget();
    if (focus && focus != active && !pictures.contains(focus))
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    float across, down, z;
    if (!stepFor(key->key(), key->modifiers(), &across, &down, &z))
        return false;
    emit stepRequested(across, down, z);
    return true;
}
