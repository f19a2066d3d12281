#include "tools/verbs.h"

namespace kd735::cli {

int List(const QStringList&, const GlobalOptions&) { return Fail(QStringLiteral("list: not built yet")); }
int Dump(const QStringList&, const GlobalOptions&) { return Fail(QStringLiteral("dump: not built yet")); }
int Key(const QStringList&, const GlobalOptions&) { return Fail(QStringLiteral("key: not built yet")); }
int Message(const QStringList&, const GlobalOptions&) { return Fail(QStringLiteral("message: not built yet")); }
int Screen(const QStringList&, const GlobalOptions&) { return Fail(QStringLiteral("screen: not built yet")); }
int Read(const QStringList&, const GlobalOptions&) { return Fail(QStringLiteral("read: not built yet")); }

}  // namespace kd735::cli
