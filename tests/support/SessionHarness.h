#pragma once

#include "acquire/TicketReply.h"
#include "net/MyHTTP.h"
#include "net/OrvexUrl.h"
#include "session/Session.h"
#include "setup/SessionInfo.h"
#include "sim/OrvexServer.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <functional>

// The first open top-level window of type T, such as the control window the
// setup dialog opened.
template <class T> T* topLevelWindow()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* window = qobject_cast<T*>(widget))
            return window;
    return nullptr;
}

// The in-process test server with a control session opened on its first
// scheduled microscope for the demo account, as the setup dialog would.
class SessionHarness
{
public:
    std::unique_ptr<OrvexServer> server;
    std::unique_ptr<Session> session;
    SessionInfo info;
    // Every request target the server received, in order.
    QStringList log;

    bool start(const OrvexServerOptions& options = OrvexServerOptions())
    {
        server = std::make_unique<OrvexServer>(options);
        QObject::connect(server.get(), &OrvexServer::requestReceived, server.get(),
                         [this](const QString& target) { log << target; });
        if (!server->listen(0))
            return false;
        const QString scope = server->scopeNames().value(0);
        MyHTTP ticket;
        QSignalSpy done(&ticket, qOverload<>(&MyHTTP::done));
        ticket.setUrl(OrvexUrl::sessionTicket(server->host(), scope, QStringLiteral("demo")));
        ticket.start();
        if (!done.wait(30000) || !ticket.succeeded() || ticket.length() < 4 || ticket.data()[0] != '+')
            return false;
        info.scope.name = scope;
        info.scope.slides = server->slidesOf(scope);
        info.host = server->host();
        info.requestPrefix = OrvexUrl::requestPrefix(QStringLiteral("demo"), scope);
        info.ticket = TicketReply::hexAt(ticket.data(), ticket.length(), 3);
        info.login = QStringLiteral("demo");
        info.password = QStringLiteral("orvex-demo");
        return open(info);
    }

    bool open(SessionInfo& record)
    {
        session = std::make_unique<Session>();
        session->show();
        session->begin(record);
        return settle();
    }

    // Waits until no request of the window is in flight.
    bool settle(int timeoutMs = 10000)
    {
        Session* s = session.get();
        return QTest::qWaitFor(
            [s] {
                return !s->stage.isBusy() && !s->videoFetcher.http().isBusy() &&
                       !s->scopeInfo.sysInfoFetcher.isBusy() && !s->clock.timeFetcher.isBusy() &&
                       !s->stackRun.isRunning() && !s->jobs.jobFetcher.isBusy();
            },
            timeoutMs);
    }

    QStringList requests(const QString& piece) const { return log.filter(piece); }

    // Neither the password nor its percent-encoded form went out.
    bool passwordNeverSent() const
    {
        return (requests(info.password) + requests(OrvexUrl::encode(info.password))).isEmpty();
    }

    QString status() const { return session->statusBar()->currentMessage(); }
    // The status text and the six controls, as "Ready. | on", "... | off" or "... | mixed".
    QString state() const
    {
        return status() + (controlsEnabled() ? " | on" : controlsEnabled(false) ? " | off" : " | mixed");
    }
    QString infoText() const { return session->sysInfoBox->toPlainText(); }

    // The six controls a request in flight disables: all enabled or all disabled.
    bool controlsEnabled(bool enabled = true) const
    {
        for (QWidget* w :
             QList<QWidget*>{session->showCurrentPosition, session->focusStackButton, session->frameGrabButton,
                             session->AFButton, session->slowFocusButton, session->zSlider})
            if (w->isEnabled() != enabled)
                return false;
        return true;
    }

    bool moveTo(const QString& xMm, const QString& yMm, const QString& zUm)
    {
        session->xCoord->setText(xMm);
        session->yCoord->setText(yMm);
        session->zCoord->setText(zUm);
        session->frameGrabButton->click();
        return settle() && status() == QStringLiteral("Ready.");
    }

    // Answers the next save dialog of the video view: `inside` runs while it is
    // open (to read it, or to change what the window shows), then it saves to path.
    static void answerSaveDialog(QWidget* view, const QString& path, std::function<void(QFileDialog*)> inside)
    {
        auto* driver = new QTimer(view);
        QObject::connect(driver, &QTimer::timeout, view, [=] {
            auto* dialog = view->findChild<QFileDialog*>(QStringLiteral("file dialog"));
            if (!dialog || !dialog->isVisible())
                return;
            driver->stop();
            driver->deleteLater();
            inside(dialog);
            if (QWidget* focused = dialog->focusWidget())
                focused->clearFocus();
            dialog->selectFile(path);
            static_cast<QDialog*>(dialog)->accept();
        });
        driver->start(20);
    }
};
