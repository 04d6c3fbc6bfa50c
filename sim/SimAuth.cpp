#include "sim/SimAuth.h"

namespace {

int rotationCount(char c)
{
    // The key byte as a signed 8-bit number, remainder toward zero: bytes
    // 0x80..0xFF give 0 or a negative count and leave their lane alone.
    const int signedByte = static_cast<signed char>(c);
    return signedByte % 8;
}

quint32 rotateLane(quint32 v, int lane, int count, bool left)
{
    const int shift = lane * 8;
    quint32 byte = (v >> shift) & 0xFFu;
    if (left)
        byte = ((byte << count) | (byte >> (8 - count))) & 0xFFu;
    else
        byte = ((byte >> count) | (byte << (8 - count))) & 0xFFu;
    return (v & ~(0xFFu << shift)) | (byte << shift);
}

} // namespace

quint32 SimAuth::scramble(quint32 v, const QString& key)
{
    const QByteArray k = key.toLatin1();
    for (int i = 0; i < k.size(); ++i) {
        const int count = rotationCount(k.at(i));
        if (count > 0)
            v = rotateLane(v, i % 4, count, true);
    }
    return v;
}

quint32 SimAuth::unscramble(quint32 v, const QString& key)
{
    const QByteArray k = key.toLatin1();
    for (int i = k.size() - 1; i >= 0; --i) {
        const int count = rotationCount(k.at(i));
        if (count > 0)
            v = rotateLane(v, i % 4, count, false);
    }
    return v;
}

QString SimAuth::token(quint32 r, quint32 challenge, const QString& key)
{
    r &= 0x7FFFu;
    const quint32 x = (((r / 256u) * (r % 256u)) << 16) | r;
    return QString::number(scramble(x ^ challenge, key), 16);
}

bool SimAuth::parseHex(const QString& text, quint32* value)
{
    if (text.isEmpty() || text.size() > 8)
        return false;
    quint32 v = 0;
    for (const QChar ch : text) {
        const ushort c = ch.unicode();
        quint32 digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        v = (v << 4) | digit;
    }
    *value = v;
    return true;
}

bool SimAuth::verify(const QString& token, quint32 challenge, const QString& key)
{
    quint32 sent = 0;
    if (!parseHex(token, &sent))
        return false;
    const quint32 x = unscramble(sent, key) ^ challenge;
    const quint32 lo = x & 0xFFFFu;
    const quint32 hi = x >> 16;
    return lo <= 32767u && hi == (lo / 256u) * (lo % 256u);
}
