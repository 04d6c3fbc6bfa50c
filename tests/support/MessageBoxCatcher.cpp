#include "MessageBoxCatcher.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

MessageBoxCatcher::MessageBoxCatcher()
{
    timer.setInterval(5);
    connect(&timer, &QTimer::timeout, this, &MessageBoxCatcher::poll);
    timer.start();
}

bool MessageBoxCatcher::waitFor(int n, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (titles.size() < n && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return titles.size() >= n;
}

QString MessageBoxCatcher::title()
{
    waitFor(1);
    return titles.isEmpty() ? QString() : titles.last();
}

QString MessageBoxCatcher::text()
{
    waitFor(1);
    return texts.isEmpty() ? QString() : texts.last();
}

void MessageBoxCatcher::poll()
{
    const QWidgetList widgets = QApplication::topLevelWidgets();
    for (QWidget* widget : widgets) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (!box || !box->isVisible() || box->property("caught").toBool())
            continue;
        box->setProperty("caught", true);
        titles.append(box->windowTitle());
        texts.append(box->text());
        QAbstractButton* button = box->defaultButton();
        if (!button && !box->buttons().isEmpty())
            button = box->buttons().first();
        if (button)
            button->click();
        else
            box->done(0);
    }
}
