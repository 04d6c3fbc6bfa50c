#pragma once

#include "sim/FaultRules.h"
#include "sim/OrvexServerOptions.h"
#include "sim/SimReply.h"
#include "sim/SimStage.h"
#include "sim/SlideLibrary.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QObject>
#include <QPointF>
#include <QSet>
#include <QStringList>
#include <QVector3D>
#include <QVector>
#include <memory>

class QHttpServerRequest;
class QTcpServer;
class QTcpSocket;
class QUrlQuery;
class SimHttpFrontend;

// The simulated Orvex server: microscope list, scheduling and session
// tickets, a stage, a camera over synthetic slides, autofocus, jobs and the
// slide pictures, with fault rules that break replies on purpose. Listens on
// 127.0.0.1 only.
class OrvexServer : public QObject
{
    Q_OBJECT
public:
    explicit OrvexServer(const OrvexServerOptions& options = {}, QObject* parent = nullptr);
    ~OrvexServer() override;

    bool listen(quint16 port = 0); // 127.0.0.1 only; port 0 picks a free port
    quint16 port() const;
    QString host() const;               // "127.0.0.1:PORT", what the client types as host
    bool addFault(const QString& rule); // "KIND:FAULT" or "KIND:FAULT:COUNT"; false if unparsable
    void clearFaults();
    QStringList requestLog() const; // every request target received, in order
    void clearLog();
    bool setLogFile(const QString& path); // also writes every target there, flushed

    void addAccount(const QString& login, const QString& password);
    void authorize(const QString& login, const QString& scope);
    void schedule(const QString& login, const QString& scope);
    void unschedule(const QString& login, const QString& scope);
    void addScope(const QString& name, bool inUse, const QString& description, const QStringList& slides);
    void setSessionSeconds(int seconds);
    void setStageSpeed(double unitsPerSecond);
    void setLatency(int ms);
    // Replaces the free text that opens the microscope list.
    void setBanner(const QString& text);

    QVector3D stagePosition(const QString& scope) const;
    double focalPlaneAt(const QString& slide, double x, double y) const;
    QStringList jobs() const;
    QStringList scopeNames() const;
    QStringList slidesOf(const QString& scope) const;
    double micronsPerPixel() const;

signals:
    void requestReceived(const QString& target);

private:
    struct Account
    {
        QString password;
        bool everywhere = false;
        QSet<QString> scopes;
    };
    struct Scope
    {
        QString name;
        bool inUse = false;
        QString description;
        QStringList slides;
        SimStage stage;
        QPointF landingError; // stage units: where the stage is, less where it reports
    };
    struct Grant
    {
        quint32 ticket = 0;
        qint64 endsMs = 0;
    };

    void onRequest(const QHttpServerRequest& request, QTcpSocket* socket);
    SimReply answer(const QString& kind, const QString& path, const QUrlQuery& query);
    // Test-server only: the all-in-focus frame and height map of a thick specimen.
    SimReply truth(const QUrlQuery& query);
    SimReply scopeList() const;
    SimReply schedulingTicket(const QString& login, const QString& scope);
    SimReply reservation(const QString& login, const QString& scope, const QString& token);
    SimReply sessionTicket(const QString& login, const QString& scope);
    SimReply sessionRequest(const QString& kind, const QUrlQuery& query);
    SimReply move(Scope& scope, const QUrlQuery& query, bool stack);
    SimReply where(Scope& scope);
    SimReply focus(Scope& scope, bool accurate);
    SimReply picture(Scope& scope, const QUrlQuery& query);
    SimReply createJob(const QString& login, Scope& scope, const QUrlQuery& query);
    SimReply systemInfo(const Scope& scope) const;
    QString checkControl(const QString& login, const QString& scope, const QUrlQuery& query) const;
    static QString kindOf(const QString& path, const QUrlQuery& query);
    QByteArray positionReply(const Scope& scope) const;
    Scope* findScope(const QString& name);
    const Scope* findScope(const QString& name) const;
    const SlideModel& slideUnder(const Scope& scope) const;
    bool knownSlide(const QString& name) const;
    bool authorized(const QString& login, const QString& scope) const;
    quint32 nextNumber();
    qint64 now() const { return m_clock.elapsed(); }
    void log(const QString& line);

    OrvexServerOptions m_options;
    QString m_banner;
    QElapsedTimer m_clock;
    QTcpServer* m_tcp = nullptr;
    SimHttpFrontend* m_http = nullptr;
    FaultRules m_faults;
    QStringList m_log;
    std::unique_ptr<QFile> m_logFile;
    QHash<QString, Account> m_accounts;
    QVector<Scope> m_scopes;
    QSet<QString> m_scheduled;            // login + '\n' + scope
    QHash<QString, quint32> m_challenges; // scheduling challenge per login + scope
    QHash<QString, Grant> m_grants;       // session per login + scope
    QStringList m_jobs;
    int m_jobCounter = 0;
    quint32 m_counter = 0;
    mutable SlideLibrary m_slides;
};
