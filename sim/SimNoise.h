#pragma once

#include <QByteArray>

// Small deterministic hashing and value noise for the synthetic slides.
class SimNoise
{
public:
    static quint32 hash(quint32 a, quint32 b, quint32 salt)
    {
        quint32 h = a * 0x8da6b343u ^ b * 0xd8163841u ^ salt * 0xcb1ab31fu;
        h ^= h >> 16;
        h *= 0x7feb352du;
        h ^= h >> 15;
        h *= 0x846ca68bu;
        h ^= h >> 16;
        return h;
    }
    static quint32 hashText(const QByteArray& bytes, quint32 seed)
    {
        quint32 h = 2166136261u ^ seed;
        for (const char c : bytes) {
            h ^= static_cast<unsigned char>(c);
            h *= 16777619u;
        }
        return hash(h, seed, 0x9e3779b9u);
    }
    static float unit(quint32 h) { return (h >> 8) * (1.0f / 16777216.0f); }
    // Smooth value noise in 0..1 with unit lattice spacing.
    static float value(double x, double y, quint32 salt);
};

// xorshift generator for per-frame noise
class SimRandom
{
public:
    explicit SimRandom(quint32 seed)
        : m_state(seed ? seed : 0x1234567u)
    {
    }
    quint32 next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return m_state;
    }
    float uniform() { return (next() >> 8) * (1.0f / 16777216.0f); }

private:
    quint32 m_state;
};
