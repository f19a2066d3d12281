// The locale of shown values: the session's own, but Russian where the session's is C or POSIX.
#include <gtest/gtest.h>

#include <QDate>
#include <QProcess>

#include "files/user_locale.h"

namespace kd735 {
namespace {

const QDate kDay(2026, 12, 11);

struct Case {
  const char* session;  // LC_ALL
  QString date;         // the short date of kDay
  QString thickness;    // a thickness line of 12.34 mm
};

const Case kCases[] = {
    {"C", "11.12.2026", "H = 12,34 мм"},         {"C.UTF-8", "11.12.2026", "H = 12,34 мм"},
    {"POSIX", "11.12.2026", "H = 12,34 мм"},     {"ru_RU.UTF-8", "11.12.2026", "H = 12,34 мм"},
    {"de_DE.UTF-8", "11.12.26", "H = 12,34 мм"}, {"en_US.UTF-8", "12/11/26", "H = 12.34 мм"},
};

TEST(UserLocale, CAndPosixAreRussianAndARealLocaleKeepsItsOwn) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.session);
    const QLocale session(QString::fromLatin1(c.session).section('.', 0, 0));
    const QLocale user = UserLocaleFor(session);
    EXPECT_EQ(user.toString(kDay, QLocale::ShortFormat).toStdString(), c.date.toStdString());
    EXPECT_EQ(user.decimalPoint().toStdString(), c.thickness.mid(6, 1).toStdString());
  }
}

// The libraries' defaults (the viewer's lines, the report's blocks) follow the rule in a
// process whose session has that locale.
TEST(UserLocale, TheLibrariesDefaultsFollowTheSessionLocale) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.session);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"LANG", "LANGUAGE", "LC_NUMERIC", "LC_TIME", "LC_MESSAGES"})
      env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("LC_ALL"), QString::fromLatin1(c.session));
    QProcess probe;
    probe.setProcessEnvironment(env);
    probe.start(QStringLiteral(KD735_LOCALE_PROBE), {});
    ASSERT_TRUE(probe.waitForFinished(30000));
    ASSERT_EQ(probe.exitCode(), 0);
    const QString printed = QString::fromUtf8(probe.readAllStandardOutput()).trimmed();
    EXPECT_EQ(printed.toStdString(),
              QStringList({c.date, c.thickness, c.thickness}).join('\n').toStdString());
  }
}

}  // namespace
}  // namespace kd735
