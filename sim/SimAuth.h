#pragma once

#include <QString>

// The server side of the challenge/response scheme. Written from the protocol
// alone, so that a fault in the client's token maker cannot hide behind
// shared code: the server only ever hands out scrambled numbers and checks
// tokens against the number it handed out.
class SimAuth
{
public:
    // Per-byte left rotation driven by the Latin-1 codes of the key.
    static quint32 scramble(quint32 v, const QString& key);
    // The inverse of scramble.
    static quint32 unscramble(quint32 v, const QString& key);
    // A token as a well-behaved client makes it from draw r (0..32767).
    static QString token(quint32 r, quint32 challenge, const QString& key);
    // True when the lowercase or uppercase hex token proves knowledge of the
    // key for this challenge: unscrambled and XORed with the challenge, the
    // upper 16 bits must be the product of the high and low bytes of the
    // lower 16 bits, which must not exceed 32767.
    static bool verify(const QString& token, quint32 challenge, const QString& key);
    // Strict hex reading: 1 to 8 hex digits and nothing else.
    static bool parseHex(const QString& text, quint32* value);
};
