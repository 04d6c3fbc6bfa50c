#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>

// Closes every message box that opens while it lives and records its title
// and text, so a test can press a button that shows a modal box without
// blocking. The box is answered with its default button (OK for warnings).
class MessageBoxCatcher : public QObject
{
    Q_OBJECT

public:
    MessageBoxCatcher();

    // Processes events until at least n boxes have been caught; false after timeoutMs.
    bool waitFor(int n = 1, int timeoutMs = 10000);
    int count() const { return titles.size(); }

    // The latest box, waiting for one when none has been caught yet.
    QString title();
    QString text();

    QStringList titles;
    QStringList texts;

private:
    void poll();

    QTimer timer;
};
