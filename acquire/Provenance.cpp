#include "acquire/Provenance.h"

#include <QDateTime>

Provenance::KeyValues Provenance::of(const QString& server, const QString& microscope, const QString& slide,
                                     const QString& user, const QString& settings)
{
    const QDateTime now = QDateTime::currentDateTime();
    return {{QStringLiteral("software"), QStringLiteral("Tessan " TESSAN_VERSION)},
            {QStringLiteral("server"), server},
            {QStringLiteral("microscope"), microscope},
            {QStringLiteral("slide"), slide},
            {QStringLiteral("user"), user},
            {QStringLiteral("time"), now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODate)},
            {QStringLiteral("settings"), settings}};
}
