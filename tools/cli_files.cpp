#include "tools/verbs.h"

namespace kd735::cli {

int Describe(const QStringList&, const GlobalOptions&) { return Fail(QStringLiteral("describe: not built yet")); }
int Picture(const QStringList&, const GlobalOptions&) { return Fail(QStringLiteral("picture: not built yet")); }
int Block(const QStringList&, const GlobalOptions&) { return Fail(QStringLiteral("block: not built yet")); }
int ListName(const QStringList&, const GlobalOptions&) { return Fail(QStringLiteral("listname: not built yet")); }

}  // namespace kd735::cli
