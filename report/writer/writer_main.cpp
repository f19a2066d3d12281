// kd735_writer: the report program's helper for LibreOffice Writer. It reads requests on its
// standard input and answers on its standard output (both one socket given by the program), one
// at a time, until the program closes the socket or goes away.
//
//   kd735_writer --check   prints nothing and exits 0 when the UNO runtime loads, else prints why
//   kd735_writer --guard SOCKET SOFFICE [ARGUMENTS...]
//                          starts LibreOffice (its own process group, a private umask), writes
//                          its process id to the standard output and stays as long as it runs,
//                          ending with its exit code. When the standard input (a pipe the program
//                          holds) closes, because the program ended or was killed, LibreOffice is
//                          ended and its pipe's socket SOCKET removed: a private instance never
//                          outlives the program.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "report/writer/writer_session.h"
#include "report/writer_protocol.h"

#if defined(__SANITIZE_ADDRESS__)
// LibreOffice's runtime keeps its singletons to the end of the process; they are not our leaks.
extern "C" const char* __lsan_default_options() { return "detect_leaks=0"; }
#endif

extern char** environ;

namespace {

namespace wp = kd735::writer_protocol;

constexpr int kOfficeEndMs = 3000;  // for a LibreOffice told to end before it is killed

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

// The exit code a guard passes on for its LibreOffice.
int ExitCode(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

bool WaitFor(pid_t pid, int ms, int* status) {
  for (int waited = 0;; waited += 20) {
    const pid_t r = waitpid(pid, status, WNOHANG);
    if (r == pid || (r < 0 && errno == ECHILD)) return true;
    if (waited >= ms) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

int Guard(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: kd735_writer --guard SOCKET SOFFICE [ARGUMENTS...]\n");
    return 2;
  }
  const std::string socket = argv[2];
  std::signal(SIGPIPE, SIG_IGN);
  const pid_t office = fork();
  if (office < 0) {
    std::fprintf(stderr, "kd735_writer: fork: %s\n", std::strerror(errno));
    return 126;
  }
  if (office == 0) {
    // Its own process group, so that the whole LibreOffice (soffice starts soffice.bin under it)
    // is ended at once; a umask that keeps its pipe and files to the user.
    setpgid(0, 0);
    umask(077);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    syscall(SYS_close_range, 3u, ~0u, 0u);
    execve(argv[3], argv + 3, environ);
    _exit(127);
  }
  setpgid(office, office);  // also here: whichever of the two runs first
  const std::string pid = std::to_string(office) + "\n";
  if (write(1, pid.data(), pid.size()) < 0) {
    // The program went away before it learnt the pid: the lifeline below is closed as well.
  }
  close(1);

  const int lifeline = 0;
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, office, 0));
  int status = 0;
  for (;;) {
    pollfd fds[2] = {{lifeline, POLLIN, 0}, {pidfd, POLLIN, 0}};
    const int r = poll(fds, pidfd >= 0 ? 2 : 1, pidfd >= 0 ? -1 : 200);
    if (r < 0 && errno != EINTR) break;
    const pid_t ended = waitpid(office, &status, WNOHANG);
    if (ended == office) return ExitCode(status);
    if (r > 0 && fds[0].revents) {
      char byte;
      const ssize_t n = read(lifeline, &byte, 1);
      if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) break;
    }
  }
  // The program is gone. A stopped LibreOffice is woken so that it can end.
  kill(-office, SIGTERM);
  kill(-office, SIGCONT);
  if (!WaitFor(office, kOfficeEndMs, &status)) {
    kill(-office, SIGKILL);
    WaitFor(office, kOfficeEndMs, &status);
  }
  kill(-office, SIGKILL);  // whatever of the group is left
  struct stat st {};
  if (socket != "-" && lstat(socket.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) &&
      st.st_uid == geteuid())
    unlink(socket.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--check") == 0) {
    const std::string reason = kd735::writer::WriterSession::CheckRuntime();
    if (reason.empty()) _exit(0);
    std::fprintf(stdout, "%s\n", reason.c_str());
    std::fflush(stdout);
    _exit(1);
  }
  if (argc > 1 && std::strcmp(argv[1], "--guard") == 0) return Guard(argc, argv);
  if (argc > 1) {
    std::fprintf(stderr, "usage: kd735_writer [--check | --guard SOCKET SOFFICE [ARGUMENTS...]]\n");
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
    if (!WriteAll(out, wp::Framed(session.Handle(payload)))) break;
  }
  session.Close();
  // The UNO runtime's static objects are not torn down: ending here is what LibreOffice's own
  // clients do, and it avoids their destruction order at exit.
  _exit(0);
}
