// kd735_writer: the report program's helper for LibreOffice Writer. It reads requests on its
// standard input and answers on its standard output (both one socket given by the program), one
// at a time, until the program closes the socket or goes away.
//
//   kd735_writer --check   prints nothing and exits 0 when the UNO runtime loads, else prints why
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include <sys/socket.h>
#include <unistd.h>

#include "report/writer/writer_session.h"
#include "report/writer_protocol.h"

#if defined(__SANITIZE_ADDRESS__)
// LibreOffice's runtime keeps its singletons to the end of the process; they are not our leaks.
extern "C" const char* __lsan_default_options() { return "detect_leaks=0"; }
#endif

namespace {

bool ReadAll(int fd, char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = read(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool WriteAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  namespace wp = kd735::writer_protocol;
  if (argc > 1 && std::strcmp(argv[1], "--check") == 0) {
    const std::string reason = kd735::writer::WriterSession::CheckRuntime();
    if (reason.empty()) _exit(0);
    std::fprintf(stdout, "%s\n", reason.c_str());
    std::fflush(stdout);
    _exit(1);
  }
  if (argc > 1) {
    std::fprintf(stderr, "usage: kd735_writer [--check]\n");
    return 2;
  }

  std::signal(SIGPIPE, SIG_IGN);
  // The messages keep a descriptor of their own: whatever a library prints on the standard
  // output goes to the standard error instead of into a reply.
  const int in = 0;
  const int out = dup(1);
  if (out < 0 || dup2(2, 1) < 0) return 1;

  // The program may end without closing the socket while a call here is still waiting for
  // LibreOffice: then this process must not stay behind.
  const pid_t parent = getppid();
  std::thread([parent] {
    for (;;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
      if (getppid() != parent) _exit(0);
    }
  }).detach();

  kd735::writer::WriterSession session;
  std::string payload;
  for (;;) {
    char prefix[4];
    if (!ReadAll(in, prefix, sizeof prefix)) break;
    const std::uint32_t length = wp::MessageLength(prefix);
    if (length > wp::kMaxMessage) break;
    payload.resize(length);
    if (!ReadAll(in, payload.data(), length)) break;
    const std::string reply = session.Handle(payload);
    std::string message(4, '\0');
    const auto n = static_cast<std::uint32_t>(reply.size());
    for (int i = 0; i < 4; ++i) message[i] = static_cast<char>((n >> (8 * i)) & 0xFF);
    message += reply;
    if (!WriteAll(out, message)) break;
  }
  session.Close();
  // The UNO runtime's static objects are not torn down: ending here is what LibreOffice's own
  // clients do, and it avoids their destruction order at exit.
  _exit(0);
}
