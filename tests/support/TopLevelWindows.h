#pragma once

#include <QApplication>
#include <QWidget>

// The first open top-level window of type T, such as the control window the
// setup dialog opened.
template <class T> T* topLevelWindow()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* window = qobject_cast<T*>(widget))
            return window;
    return nullptr;
}

// Deletes every top-level window of type T, looking again after each one: a
// control window takes its video window with it.
template <class T> void deleteTopLevelWindows()
{
    while (T* window = topLevelWindow<T>())
        delete window;
}
