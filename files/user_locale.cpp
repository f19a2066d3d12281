#include "files/user_locale.h"

namespace kd735 {

QLocale UserLocaleFor(const QLocale& session) {
  // Qt names both C and POSIX the C locale.
  if (session.language() == QLocale::C) return QLocale(QLocale::Russian, QLocale::Russia);
  return session;
}

QLocale UserLocale() { return UserLocaleFor(QLocale::system()); }

}  // namespace kd735
