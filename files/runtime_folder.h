#pragma once

#include <QString>

namespace kd735 {

// Outside a desktop session (ssh, cron, CI) XDG_RUNTIME_DIR is unset and Qt warns on every start
// that it has none. When it is unset, this makes <parent>/runtime-<uid> a private folder of this
// user and sets XDG_RUNTIME_DIR to it. (Qt's own fallback is <temp>/runtime-<user name>, which
// another user can occupy first just as well: nothing here relies on it.)
//
// The folder sits in a folder everyone may write to, so it is trusted only when it is a real
// folder (never a symbolic link, which is not followed) owned by this user; only then are its
// permissions narrowed to 0700. Anything else is left untouched and the variable stays unset.
// Returns the folder in use: XDG_RUNTIME_DIR as it was, the one made, or empty when none could
// be made safely. Call before the application object is made.
QString EnsurePrivateRuntimeFolder(const QString& parent = QString());

// A folder for state that must not be planted or changed by another user: the runtime folder
// when the session (or EnsurePrivateRuntimeFolder) gives one that Qt accepts as this user's own,
// otherwise <cache>/kd735 under the home (~/.cache/kd735), made private to this user. Empty when
// neither can be had safely.
QString PrivateStateFolder();

}  // namespace kd735
