#include "views/StageLink.h"

StageLink& StageLink::instance()
{
    static StageLink link;
    return link;
}

void StageLink::offer(QObject* owner, Move move)
{
    withdraw(owner);
    offers.append({owner, std::move(move)});
    connect(owner, &QObject::destroyed, this, &StageLink::dropGone);
    emit linkChanged(true);
}

void StageLink::withdraw(QObject* owner)
{
    const qsizetype before = offers.size();
    offers.removeIf([owner](const Offer& o) { return o.owner == owner; });
    if (owner)
        disconnect(owner, &QObject::destroyed, this, &StageLink::dropGone);
    if (offers.size() != before)
        emit linkChanged(linked());
}

void StageLink::dropGone()
{
    const qsizetype before = offers.size();
    offers.removeIf([](const Offer& o) { return o.owner.isNull(); });
    if (offers.size() != before)
        emit linkChanged(linked());
}

bool StageLink::linked() const
{
    for (const Offer& o : offers)
        if (o.owner)
            return true;
    return false;
}

bool StageLink::moveTo(const QPointF& stageUm)
{
    for (auto o = offers.crbegin(); o != offers.crend(); ++o)
        if (o->owner) {
            o->move(stageUm);
            return true;
        }
    return false;
}
