#pragma once

#include <QList>
#include <QObject>
#include <QPointF>
#include <QPointer>
#include <functional>

// Where viewers send the stage: an open session offers its move here, with
// its own rules for when the stage may go, and every viewer uses it, opened
// before the session or after; when the session closes, the viewers are no
// longer linked. Of several open sessions the last one opened steers. The
// views thus know no session.
class StageLink : public QObject
{
    Q_OBJECT

public:
    using Move = std::function<void(const QPointF& stageUm)>;

    static StageLink& instance();

    // `owner` steers until it withdraws or is destroyed.
    void offer(QObject* owner, Move move);
    void withdraw(QObject* owner);
    bool linked() const;
    // False, and nothing is sent, when no session is open.
    bool moveTo(const QPointF& stageUm);
    // A viewer asks for a session to be opened (the application shows its setup dialog).
    void askForSession() { emit sessionWanted(); }

signals:
    void linkChanged(bool linked);
    void sessionWanted();

private:
    struct Offer
    {
        QPointer<QObject> owner;
        Move move;
    };
    void dropGone();

    QList<Offer> offers;
};
