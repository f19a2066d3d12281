// What the run command installs is part of what the test command installs, and holds everything
// the programs need and nothing only the tests, fuzzing or packaging need.
#include <gtest/gtest.h>

#include <QProcess>
#include <QStringList>
#include <algorithm>

namespace {

// The set-up's list, one entry a line; an entry's alternatives in order.
QList<QStringList> SetUpList(const QStringList& options) {
  QProcess setup;
  setup.start(
      QStringLiteral("bash"),
      QStringList{QStringLiteral(KD735_SOURCE_DIR "/scripts/setup.sh"), QStringLiteral("--list")} +
          options);
  EXPECT_TRUE(setup.waitForFinished(30000));
  EXPECT_EQ(setup.exitCode(), 0) << setup.readAllStandardError().toStdString();
  QList<QStringList> entries;
  for (const QString& line :
       QString::fromUtf8(setup.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts))
    entries << line.split('|');
  return entries;
}

QStringList Sorted(QStringList alternatives) {
  alternatives.sort();
  return alternatives;
}

TEST(SetUp, TheRunListIsPartOfTheTestListWithoutTestTools) {
  const QList<QStringList> run = SetUpList({});
  const QList<QStringList> test = SetUpList({QStringLiteral("--test")});
  ASSERT_FALSE(run.isEmpty());
  ASSERT_GT(test.size(), run.size());

  for (const QStringList& entry : run) {
    const bool inTest = std::any_of(
        test.begin(), test.end(), [&](const QStringList& t) { return Sorted(t) == Sorted(entry); });
    EXPECT_TRUE(inTest) << entry.join('|').toStdString();
    for (const QString& package : entry)
      for (const char* tool : {"gtest", "gmock", "benchmark", "umockdev", "docx", "poppler", "xvfb",
                               "xdotool", "imagemagick", "openbox", "qt6ct", "lintian", "appstream",
                               "desktop-file-utils", "fakeroot", "clang", "tsan"})
        EXPECT_FALSE(package.contains(QLatin1String(tool))) << package.toStdString();
  }

  // What the programs need to build and run: Qt's Russian texts, the Writer helper's SDK, and the
  // Writer whose window the report is built in, where no Writer is installed yet.
  auto has = [&run](const char* package) {
    return std::any_of(run.begin(), run.end(),
                       [&](const QStringList& e) { return e.contains(QLatin1String(package)); });
  };
  for (const char* needed : {"qt6-base-dev", "qt6-translations-l10n", "libreoffice-dev"})
    EXPECT_TRUE(has(needed)) << needed;
  const auto writer = std::find_if(run.begin(), run.end(), [](const QStringList& e) {
    return e.contains(QStringLiteral("libreoffice-writer-nogui"));
  });
  ASSERT_NE(writer, run.end());
  EXPECT_EQ(writer->first(), u"libreoffice-writer");
}

}  // namespace
