#pragma once

#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <functional>

// Runs the built kd735 tool (its path comes from the KD735_CLI definition) headless under a
// Russian locale, so that numbers carry the comma.
namespace kd735::testing {

struct CliRun {
  int exitCode = -1;
  QString out, err;
};

// `prepare` may set up the process further (its folder, limits) before it starts.
inline CliRun RunKd735(const QStringList& args,
                       const std::function<void(QProcess&)>& prepare = nullptr) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.remove(QStringLiteral("LC_ALL"));
  env.remove(QStringLiteral("LC_NUMERIC"));
  env.insert(QStringLiteral("LANG"), QStringLiteral("ru_RU.UTF-8"));
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  p.setProcessEnvironment(env);
  if (prepare) prepare(p);
  p.start(QStringLiteral(KD735_CLI), args);
  EXPECT_TRUE(p.waitForFinished(60000));
  return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
          QString::fromUtf8(p.readAllStandardError())};
}

}  // namespace kd735::testing
