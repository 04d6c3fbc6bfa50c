#include "FuzzInput.h"

#include "acquire/ScopeListParser.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const FuzzInput input(data, size);
    const ScopeListParser list = ScopeListParser::parse(input.data(), input.length());

    // Everything read comes from the bytes before the first NUL.
    const int text = static_cast<int>(::strnlen(input.data(), static_cast<size_t>(input.length())));
    fuzzCheck(list.banner.size() <= text, "banner longer than the reply");
    qint64 total = list.banner.size();
    for (const ScopeRecord& record : list.records) {
        fuzzCheck(!record.name.contains(QLatin1Char('\n')), "name holds a line break");
        fuzzCheck(!record.description.contains(QLatin1Char('^')), "description holds its end mark");
        for (const QString& slide : record.slides) {
            fuzzCheck(!slide.isEmpty() && !slide.contains(' ') && !slide.contains('\n'), "slide name empty or spaced");
            total += slide.size();
        }
        total += record.name.size() + record.description.size();
    }
    // Entries may overlap, but the scan budget keeps the output linear in the input.
    fuzzCheck(total <= 16 * qint64(text) + 2 * 65536, "output out of proportion to the reply");
    return 0;
}
