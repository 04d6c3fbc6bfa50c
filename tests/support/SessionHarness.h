#pragma once

#include "net/MyHTTP.h"
#include "net/OrvexUrl.h"
#include "session/Session.h"
#include "setup/SessionInfo.h"
#include "sim/OrvexServer.h"

#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QStatusBar>
#include <QTest>

#include <cstdio>
#include <memory>
#include <string>

// The in-process test server with a control session opened on its first
// scheduled microscope for the demo account, as the setup dialog would.
class SessionHarness
{
public:
    std::unique_ptr<OrvexServer> server;
    std::unique_ptr<Session> session;
    SessionInfo info;

    bool start(const OrvexServerOptions& options = OrvexServerOptions())
    {
        server = std::make_unique<OrvexServer>(options);
        if (!server->listen(0))
            return false;
        const QString scope = server->scopeNames().value(0);
        const QString login = QStringLiteral("demo");

        MyHTTP ticket;
        QSignalSpy done(&ticket, qOverload<>(&MyHTTP::done));
        ticket.setUrl(OrvexUrl::sessionTicket(server->host(), scope, login));
        ticket.start();
        if (!done.wait(5000) || !ticket.succeeded() || ticket.length() < 4 || ticket.data()[0] != '+')
            return false;
        // The ticket stands in hexadecimal from the fourth character on.
        const std::string text(ticket.data(), size_t(ticket.length()));
        unsigned value = 0;
        if (std::sscanf(text.c_str() + 3, "%x", &value) != 1)
            return false;

        info.scope.name = scope;
        info.scope.slides = server->slidesOf(scope);
        info.host = server->host();
        info.requestPrefix = OrvexUrl::requestPrefix(login, scope);
        info.ticket = value;
        info.login = login;
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
                return !s->moveFetcher.isBusy() && !s->requeryTimer.isActive() && !s->videoFetcher.http().isBusy() &&
                       !s->sysInfoFetcher.isBusy() && !s->timeFetcher.isBusy() && !s->stackMoveFetcher.isBusy() &&
                       !s->stackImageFetcher.http().isBusy() && !s->jobFetcher.isBusy();
            },
            timeoutMs);
    }

    // Requests received whose target contains every one of the pieces.
    QStringList requests(const QString& piece) const
    {
        QStringList found;
        for (const QString& target : server->requestLog())
            if (target.contains(piece))
                found << target;
        return found;
    }

    // Neither the password nor its percent-encoded form appears in any request.
    bool passwordNeverSent() const
    {
        const QString encoded = OrvexUrl::encode(info.password);
        for (const QString& target : server->requestLog())
            if (target.contains(info.password) || target.contains(encoded))
                return false;
        return true;
    }

    QString status() const { return session->statusBar()->currentMessage(); }
    QString infoText() const { return session->sysInfoBox->toPlainText(); }
    QString slide() const { return info.scope.slides.value(0); }

    QList<QWidget*> controls() const
    {
        return {session->showCurrentPosition, session->focusStackButton, session->frameGrabButton, session->AFButton,
                session->slowFocusButton,     session->zSlider};
    }
    bool controlsEnabled() const
    {
        for (QWidget* w : controls())
            if (!w->isEnabled())
                return false;
        return true;
    }
    bool controlsDisabled() const
    {
        for (QWidget* w : controls())
            if (w->isEnabled())
                return false;
        return true;
    }

    // Moves the stage by typing the destination and pressing "Move".
    bool moveTo(const QString& xMm, const QString& yMm, const QString& zUm)
    {
        session->xCoord->setText(xMm);
        session->yCoord->setText(yMm);
        session->zCoord->setText(zUm);
        session->frameGrabButton->click();
        return settle() && status() == QStringLiteral("Ready.");
    }

    // Saves a picture of the widget under build-session/shots for a look by eye.
    static QString shoot(QWidget* widget, const QString& name)
    {
        QDir dir(QCoreApplication::applicationDirPath() + QStringLiteral("/../shots"));
        dir.mkpath(QStringLiteral("."));
        const QString path = dir.absoluteFilePath(name + QStringLiteral(".png"));
        widget->grab().save(path);
        return path;
    }
};
