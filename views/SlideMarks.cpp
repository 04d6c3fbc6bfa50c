#include "views/SlideMarks.h"

#include "net/ReplyScan.h"

#include <cstring>

QVector<CoordinateTriple> SlideMarks::read(const char* data, int length)
{
    QVector<CoordinateTriple> positions;
    if (!data || length <= 0)
        return positions;
    char line[maxLineLength + 1];
    char name[maxLineLength + 1];
    float x = 0.0f;
    float y = 0.0f;
    int pos = 0;
    while (pos < length) {
        const void* newline = std::memchr(data + pos, '\n', static_cast<size_t>(length - pos));
        const int end = newline ? static_cast<int>(static_cast<const char*>(newline) - data) : length;
        const int lineLength = end - pos;
        if (lineLength <= maxLineLength) {
            std::memcpy(line, data + pos, static_cast<size_t>(lineLength));
            line[lineLength] = 0;
            // %f leaves its target alone when the line stops short of it.
            ReplyScan::scan(line, "%511s %f %f", name, &x, &y);
            CoordinateTriple position;
            position.x = x;
            position.y = y;
            positions.append(position);
        }
        pos = end + 1;
    }
    return positions;
}
