// Where a paragraph may break into lines.
#pragma once

#include <QString>

#include <vector>

namespace Rpt {

// Where the Unicode line breaking rules let a paragraph break (ICU's line
// break iterator, with its dictionaries for Thai, Lao, Khmer and Burmese):
// offsets after which a line may end, the paragraph's end last.
std::vector<int> breakOpportunities(const QString &para);

} // namespace Rpt
