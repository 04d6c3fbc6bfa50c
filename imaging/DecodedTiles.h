#pragma once

#include <QHash>
#include <list>
#include <mutex>
#include <opencv2/core.hpp>

// Decoded tiles kept for the next read, the least recently used dropped
// first once their pixels pass a limit in bytes. A tile handed out stays
// valid after it is dropped here (cv::Mat shares its pixels). Thread-safe.
class DecodedTiles
{
public:
    explicit DecodedTiles(qint64 limitBytes)
        : m_limit(limitBytes)
    {
    }

    // Empty when the tile is not held.
    cv::Mat find(int id);
    void insert(int id, const cv::Mat& pixels);
    void clear();
    qint64 bytes() const;

private:
    struct Entry
    {
        int id;
        cv::Mat pixels;
    };
    mutable std::mutex m_mutex;
    std::list<Entry> m_order; // most recent first
    QHash<int, std::list<Entry>::iterator> m_index;
    qint64 m_limit;
    qint64 m_bytes = 0;
};
