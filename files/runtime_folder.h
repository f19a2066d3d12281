#pragma once

#include <QString>

namespace kd735 {

// Outside a desktop session (ssh, cron, CI) XDG_RUNTIME_DIR is unset and Qt warns on every start
// that it has none. When it is unset, this makes <parent>/runtime-<uid> (the folder Qt itself
// would fall back to) a private folder of this user and sets XDG_RUNTIME_DIR to it.
//
// The folder sits in a folder everyone may write to, so it is trusted only when it is a real
// folder (never a symbolic link, which is not followed) owned by this user; only then are its
// permissions narrowed to 0700. Anything else is left untouched and the variable stays unset.
// Returns the folder in use: XDG_RUNTIME_DIR as it was, the one made, or empty when none could
// be made safely. Call before the application object is made.
QString EnsurePrivateRuntimeFolder(const QString& parent = QString());

}  // namespace kd735
