#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

// Closes every message box that opens while it lives, with its default
// button, and records its title and text, so a test can press a button that
// shows a modal box without blocking.
class MessageBoxCatcher : public QObject
{
public:
    QStringList titles;
    QStringList texts;

    MessageBoxCatcher()
    {
        connect(&timer, &QTimer::timeout, this, [this] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(widget);
                if (!box || !box->isVisible() || box->property("caught").toBool())
                    continue;
                box->setProperty("caught", true);
                titles << box->windowTitle();
                texts << box->text();
                QAbstractButton* button = box->defaultButton() ? box->defaultButton() : box->buttons().value(0);
                button ? button->click() : box->done(0);
            }
        });
        timer.start(5);
    }

    int count() const { return titles.size(); }
    // Processes events until n boxes have been caught; false after 30 s.
    bool waitFor(int n = 1)
    {
        return QTest::qWaitFor([this, n] { return titles.size() >= n; }, 30000);
    }
    // The latest box, waiting for one when none has been caught yet.
    QString title() { return waitFor() ? titles.last() : QString(); }
    QString text() { return waitFor() ? texts.last() : QString(); }

private:
    QTimer timer;
};
