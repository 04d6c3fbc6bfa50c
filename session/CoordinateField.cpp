#include "session/CoordinateField.h"

namespace CoordinateField {

float read(const QString& text)
{
    bool ok = false;
    const float value = text.toFloat(&ok);
    if (ok)
        return value;
    // One comma and no point: a decimal comma, not a thousands separator.
    if (text.count(QLatin1Char(',')) == 1 && !text.contains(QLatin1Char('.')))
        return QString(text).replace(QLatin1Char(','), QLatin1Char('.')).toFloat();
    return 0.0f;
}

} // namespace CoordinateField
