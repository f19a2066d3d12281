#pragma once

#include <string>
#include <string_view>

#include <sys/types.h>

// LibreOffice's named pipes are Unix sockets in a shared folder (/tmp), named after the user's
// id and the pipe's name. Anybody can bind such a path first, so a name is no secret and no
// proof: before connecting, the socket must be one of the user's own. Links nothing of
// LibreOffice or Qt.
namespace kd735::writer_pipe {

// A pipe name LibreOffice takes (letters, digits, '_', '-', '.'; no path), at most 100 bytes.
bool ValidName(std::string_view name);

// The socket of pipe `name` for user `uid`, as LibreOffice's runtime makes it:
// /tmp/OSL_PIPE_<uid>_<name>, or in /var/tmp when /tmp cannot be written.
std::string SocketPath(std::string_view name, uid_t uid);

enum class Check {
  kAbsent,   // nothing there: nobody listens
  kOwn,      // a socket of the user's own, in a folder others cannot replace it in
  kRefused,  // anything else: `reason` says what and whose
};

// Whether the socket at `path` may be connected to by user `uid`. `reason` (Russian, for the
// user) names the path and its owner when refused.
Check CheckSocket(const std::string& path, uid_t uid, std::string* reason);

}  // namespace kd735::writer_pipe
