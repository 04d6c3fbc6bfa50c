#include "FuzzInput.h"

#include "views/marks/MarksGeoJson.h"

#include <QByteArray>

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const FuzzInput input(data, size);
    QList<Annotation> marks;
    marks.append(Annotation());
    QString error;
    if (!MarksGeoJson::read(QByteArray::fromRawData(input.data(), input.length()), &marks, &error)) {
        fuzzCheck(marks.size() == 1 && !error.isEmpty(), "a refused file changed the marks or gave no reason");
        return 0;
    }
    for (const Annotation& mark : marks) {
        fuzzCheck(!mark.pointsMm.isEmpty() && !mark.name.isEmpty(), "a mark without points or name");
        for (const QPointF& p : mark.pointsMm)
            fuzzCheck(std::abs(p.x()) <= 1000.0 && std::abs(p.y()) <= 1000.0, "a mark off any stage");
        fuzzCheck(std::isfinite(mark.zMicrometres) && std::isfinite(mark.areaSquareMicrometres()),
                  "a figure not finite");
    }
    // What was read is written and read again alike.
    QList<Annotation> again;
    fuzzCheck(MarksGeoJson::read(MarksGeoJson::write(marks, {}), &again, &error) && again.size() == marks.size(),
              "an imported file does not export and import again");
    return 0;
}
