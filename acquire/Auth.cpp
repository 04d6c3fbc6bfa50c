#include "acquire/Auth.h"

#include <QRandomGenerator>

namespace {

// The count is the key byte read as a signed char, remainder by 8 truncated
// toward zero, so bytes 0x80..0xff give zero or a negative count: no rotation.
int rotationCount(char keyByte)
{
    return static_cast<signed char>(keyByte) % 8;
}

quint32 rotateLane(quint32 v, int lane, int count, bool left)
{
    const int shift = lane * 8;
    const quint32 byte = (v >> shift) & 0xffu;
    const quint32 rotated =
        left ? ((byte << count) | (byte >> (8 - count))) & 0xffu : ((byte >> count) | (byte << (8 - count))) & 0xffu;
    return (v & ~(0xffu << shift)) | (rotated << shift);
}

} // namespace

Auth::Auth()
    : drawSource([] { return QRandomGenerator::global()->generate(); })
{
}

void Auth::setDrawSource(DrawSource source)
{
    drawSource = std::move(source);
}

void Auth::setKey(const QString& k)
{
    key = k.toLatin1();
}

void Auth::setChallenge(int v)
{
    challenge = unscramble(static_cast<uint>(v));
}

QString Auth::makeToken()
{
    return makeToken(static_cast<int>(drawSource() & 0x7fffu));
}

QString Auth::makeToken(int r) const
{
    const quint32 draw = static_cast<quint32>(r) & 0x7fffu;
    quint32 x = (((draw >> 8) * (draw & 0xffu)) << 16) | draw;
    x ^= challenge;
    return QString::number(scramble(x), 16);
}

quint32 Auth::scramble(uint v) const
{
    quint32 value = v;
    for (int i = 0; i < key.size(); ++i) {
        const int count = rotationCount(key.at(i));
        if (count > 0)
            value = rotateLane(value, i % 4, count, true);
    }
    return value;
}

quint32 Auth::unscramble(uint v) const
{
    quint32 value = v;
    for (int i = key.size() - 1; i >= 0; --i) {
        const int count = rotationCount(key.at(i));
        if (count > 0)
            value = rotateLane(value, i % 4, count, false);
    }
    return value;
}
