#pragma once

#include <QObject>
#include <QString>

#include <functional>

// Makes the "auth" tokens that prove knowledge of the password without
// sending it. The server hands out a scrambled 32-bit number; each token is a
// fresh draw folded with that number and scrambled with the password.
class Auth : public QObject
{
    Q_OBJECT

public:
    // Where each token's draw comes from; only the low 15 bits are used.
    using DrawSource = std::function<quint32()>;

    // Draws from QRandomGenerator::global().
    Auth();
    void setDrawSource(DrawSource source);

    void setKey(const QString& k);
    // The server sends the challenge scrambled with the key.
    void setChallenge(int v);
    quint32 currentChallenge() const { return challenge; }

    QString makeToken();
    // The token for draw r (0..32767), for callers that supply their own draw.
    QString makeToken(int r) const;

    // Rotates byte (i mod 4) of v left by key[i] mod 8 bits for each key position.
    quint32 scramble(uint v) const;
    quint32 unscramble(uint v) const;

private:
    QByteArray key;
    quint32 challenge = 0;
    DrawSource drawSource;
};
