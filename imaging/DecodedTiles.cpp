#include "imaging/DecodedTiles.h"

cv::Mat DecodedTiles::find(int id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_index.find(id);
    if (it == m_index.end())
        return cv::Mat();
    m_order.splice(m_order.begin(), m_order, it.value());
    return m_order.front().pixels;
}

void DecodedTiles::insert(int id, const cv::Mat& pixels)
{
    const qint64 size = qint64(pixels.total() * pixels.elemSize());
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_index.contains(id) || size > m_limit)
        return;
    m_order.push_front({id, pixels});
    m_index.insert(id, m_order.begin());
    m_bytes += size;
    while (m_bytes > m_limit) {
        const Entry& last = m_order.back();
        m_bytes -= qint64(last.pixels.total() * last.pixels.elemSize());
        m_index.remove(last.id);
        m_order.pop_back();
    }
}

void DecodedTiles::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_order.clear();
    m_index.clear();
    m_bytes = 0;
}

qint64 DecodedTiles::bytes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bytes;
}
