#pragma once

#include <QLocale>

// The locale of every value shown to the user: dates and the decimal separator.
namespace kd735 {

// The session's locale, except that C and POSIX (servers, containers, unset LANG) are no user's
// choice: the programs are Russian, so those get the Russian short date and decimal comma.
QLocale UserLocale();

// The same rule for a given session locale.
QLocale UserLocaleFor(const QLocale& session);

}  // namespace kd735
