#include "tools/verbs.h"

namespace kd735::cli {

int Report(const QStringList&, const GlobalOptions&) { return Fail(QStringLiteral("report: not built yet")); }

}  // namespace kd735::cli
