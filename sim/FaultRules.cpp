#include "sim/FaultRules.h"

#include <QStringList>

Fault FaultRules::faultFromName(const QString& name)
{
    const QString n = name.trimmed().toLower();
    if (n == QLatin1String("refuse"))
        return Fault::Refuse;
    if (n == QLatin1String("500"))
        return Fault::Http500;
    if (n == QLatin1String("empty"))
        return Fault::Empty;
    if (n == QLatin1String("garbage"))
        return Fault::Garbage;
    if (n == QLatin1String("cut"))
        return Fault::Cut;
    if (n == QLatin1String("stall"))
        return Fault::Stall;
    if (n == QLatin1String("drip"))
        return Fault::Drip;
    if (n == QLatin1String("oversize"))
        return Fault::Oversize;
    if (n == QLatin1String("status"))
        return Fault::Status;
    if (n == QLatin1String("nul"))
        return Fault::Nul;
    if (n == QLatin1String("nulend"))
        return Fault::NulEnd;
    return Fault::None;
}

bool FaultRules::add(const QString& rule)
{
    const QStringList parts = rule.split(QLatin1Char(':'));
    if (parts.size() < 2 || parts.size() > 3)
        return false;
    Rule r;
    r.kind = parts.at(0).trimmed();
    r.fault = faultFromName(parts.at(1));
    if (r.kind.isEmpty() || r.fault == Fault::None)
        return false;
    if (parts.size() == 3) {
        bool ok = false;
        r.remaining = parts.at(2).trimmed().toInt(&ok);
        if (!ok || r.remaining <= 0)
            return false;
    }
    m_rules.append(r);
    return true;
}

Fault FaultRules::take(const QString& kind)
{
    for (int i = 0; i < m_rules.size(); ++i) {
        Rule& r = m_rules[i];
        if (r.kind != QLatin1String("*") && r.kind != kind)
            continue;
        const Fault f = r.fault;
        if (r.remaining > 0 && --r.remaining == 0)
            m_rules.remove(i);
        return f;
    }
    return Fault::None;
}
