#pragma once

// A second local user for the tests of what one user can do to another: user nobody, reached
// from root through setpriv.
#include <QByteArray>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <unistd.h>

namespace kd735::testing {

// Why this machine gives no second user; empty when it does (root, with setpriv).
inline QString OtherUserUnavailable() {
  if (::geteuid() != 0) return QStringLiteral("acting as another user needs root");
  if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
    return QStringLiteral("setpriv is missing");
  return {};
}

// setpriv's arguments before a command that is to run as nobody (uid and gid 65534).
inline QStringList AsNobody() {
  return {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
          QStringLiteral("--clear-groups"), QStringLiteral("--")};
}

// Runs `command` as nobody and waits for it (10 s at most); true when it succeeded, else its
// error output is in `error`.
inline bool RunAsNobody(const QStringList& command, QByteArray* error) {
  QProcess p;
  p.start(QStringLiteral("setpriv"), AsNobody() + command);
  const bool ended = p.waitForFinished(10000);
  *error = ended ? p.readAllStandardError() : QByteArray("did not end within 10 s");
  return ended && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

}  // namespace kd735::testing
