#include "report/RptBreaks.h"

#include <unicode/ubrk.h>

#include <mutex>

namespace Rpt {

std::vector<int> breakOpportunities(const QString &para)
{
    static std::mutex mutex;
    static UBreakIterator *prototype = nullptr;
    UErrorCode status = U_ZERO_ERROR;
    UBreakIterator *it = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!prototype)
            prototype = ubrk_open(UBRK_LINE, "", nullptr, 0, &status);
        if (prototype) {
            status = U_ZERO_ERROR;
            it = ubrk_clone(prototype, &status);
        }
    }
    std::vector<int> out;
    if (it && U_SUCCESS(status)) {
        ubrk_setText(it, reinterpret_cast<const UChar *>(para.utf16()), static_cast<int32_t>(para.size()), &status);
        for (int32_t at = ubrk_first(it); U_SUCCESS(status) && at != UBRK_DONE; at = ubrk_next(it))
            if (at > 0)
                out.push_back(at);
    }
    if (it)
        ubrk_close(it);
    if (out.empty() || out.back() != para.size())
        out.push_back(static_cast<int>(para.size()));  // without ICU: one piece, broken only by clusters
    return out;
}

} // namespace Rpt
