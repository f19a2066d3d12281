// The helper's messages: a request is decoded whole and checked before anything runs (a short,
// long or malformed one is refused), and the check of LibreOffice's pipe socket.
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "report/writer_engine.h"
#include "report/writer_pipe.h"
#include "report/writer_protocol.h"
#include "tests/common/requirements.h"

namespace kd735 {
namespace {

namespace wp = writer_protocol;

wp::AppendBlock SampleBlock() {
  wp::AppendBlock b;
  b.table = 2;
  b.number = 17;
  b.png = std::string("\x89PNG\r\n\x1a\n", 8) + std::string(40, '\0');
  b.width = 134;
  b.height = 70;
  b.lines = {"Имя  файла  TEST0001 N005", " ", "ИЗМЕРЕНИЕ"};
  b.font = {"Times New Roman", 1000, true, false};
  return b;
}

TEST(WriterRequest, EveryKindComesBackAsItWasSent) {
  wp::AppendSummary summary;
  summary.heading = "Сводка измерений";
  summary.rows = {{"Число", "3"}, {"Среднее", "12,34 мм"}};
  const wp::Request requests[] = {wp::Attach{"kd735_writer_0"},
                                  wp::EndAction{},
                                  wp::CreateDocument{"/t/Sample_KD735.docx", true},
                                  wp::FillVariables{{{"NUMBER", "0001"}}},
                                  SampleBlock(),
                                  summary,
                                  wp::Where{},
                                  wp::Store{"/tmp/x.pdf", "writer_pdf_Export"},
                                  wp::CloseDocuments{1, "/tmp/f", true},
                                  wp::Terminate{}};
  for (const wp::Request& r : requests) {
    const std::string payload = wp::EncodeRequest(r);
    const std::optional<wp::Request> back = wp::DecodeRequest(payload);
    ASSERT_TRUE(back) << static_cast<int>(wp::OpOf(r));
    EXPECT_EQ(back->index(), r.index());
    EXPECT_EQ(wp::EncodeRequest(*back), payload);
  }
  const auto block =
      std::get<wp::AppendBlock>(*wp::DecodeRequest(wp::EncodeRequest(SampleBlock())));
  EXPECT_EQ(block.lines, SampleBlock().lines);
  EXPECT_EQ(block.png, SampleBlock().png);
  EXPECT_EQ(block.font.name, "Times New Roman");
}

// A request that is not whole is never taken for one: every cut of a block, a byte too many, a
// value out of its kind, a count beyond the message.
TEST(WriterRequest, AnythingButOneWholeRequestIsRefused) {
  const std::string block = wp::EncodeRequest(SampleBlock());
  for (std::size_t n = 0; n < block.size(); ++n)
    EXPECT_FALSE(wp::DecodeRequest(block.substr(0, n))) << "cut at " << n;
  auto with = [&](std::size_t at, const std::string& bytes) {
    std::string s = block;
    s.replace(at, bytes.size(), bytes);
    return s;
  };
  // Op, table, number, png length at 9: 4 bytes.
  const std::size_t fontBold = block.size() - 2;
  struct Case {
    const char* what;
    std::string payload;
  } cases[] = {
      {"a byte too many", block + '\0'},
      {"an unknown operation", std::string(1, '\x63')},
      {"no operation", {}},
      {"a boolean that is 2", with(fontBold, "\x02")},
      {"a negative length", with(9, "\xff\xff\xff\xff")},
      {"a length past the end", with(9, std::string("\x00\x00\x00\x40", 4))},
      {"a count past the end",
       wp::EncodeRequest(wp::FillVariables{}).substr(0, 1) + std::string("\xff\xff\xff\x0f", 4)},
  };
  for (const Case& c : cases) EXPECT_FALSE(wp::DecodeRequest(c.payload)) << c.what;
}

TEST(WriterReply, ResultsComeWithAFailureAndARefusalHasNone) {
  wp::Reply<wp::AppendBlock::Result> failed;
  failed.status = wp::Status::kFailed;
  failed.failure = {"Запрошенная ячейка не существует", 0};
  failed.result.stage = static_cast<std::uint8_t>(wp::Stage::kPictureCell);
  const auto back = wp::DecodeReply<wp::AppendBlock::Result>(wp::EncodeReply(failed));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->failure.text, failed.failure.text);
  EXPECT_EQ(back->result.stage, failed.result.stage);

  wp::Reply<wp::NoResult> refused;
  refused.status = wp::Status::kFailed;
  refused.failure = {"Неверный запрос к модулю LibreOffice.", wp::kRefused};
  EXPECT_TRUE(wp::DecodeReply<wp::AppendBlock::Result>(wp::EncodeReply(refused)));
  wp::Reply<wp::NoResult> ok;
  EXPECT_FALSE(wp::DecodeReply<wp::AppendBlock::Result>(wp::EncodeReply(ok)))
      << "a success must carry its results";
  EXPECT_FALSE(wp::DecodeReply<wp::NoResult>(wp::EncodeReply(ok) + "x"));
}

// The helper itself answers a malformed request with the refusal and goes on serving.
TEST(WriterHelper, RefusesAMalformedRequestAndGoesOn) {
  const QString helper = QStringLiteral(KD735_WRITER_HELPER);
  KD735_NEED(!helper.isEmpty(), "The LibreOffice SDK (kd735_writer is not built)");
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
  std::vector<std::string> env;
  for (const QString& e : WriterEngine::HelperEnvironment()) env.push_back(e.toStdString());
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  const std::string program = helper.toStdString();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 0);
    dup2(fds[1], 1);
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    execve(argv[0], argv, envp.data());
    _exit(127);
  }
  close(fds[1]);
  auto call = [&](const std::string& payload) {
    const std::string message = wp::Framed(payload);
    EXPECT_EQ(write(fds[0], message.data(), message.size()), static_cast<ssize_t>(message.size()));
    char prefix[4];
    if (read(fds[0], prefix, 4) != 4) return std::string();
    std::string reply(wp::MessageLength(prefix), '\0');
    std::size_t got = 0;
    while (got < reply.size()) {
      const ssize_t n = read(fds[0], reply.data() + got, reply.size() - got);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    return reply;
  };
  // A document request cut short: it would run with an empty path.
  const std::string create = wp::EncodeRequest(wp::CreateDocument{"/tmp/t.docx", false});
  for (const std::string& bad : {create.substr(0, 6), create + '\x01'}) {
    const auto reply = wp::DecodeReply<wp::NoResult>(call(bad));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, wp::Status::kFailed);
    EXPECT_EQ(reply->failure.text, "Неверный запрос к модулю LibreOffice.");
    EXPECT_EQ(reply->failure.flags, wp::kRefused);
  }
  // Still serving: a whole request runs (and fails, as nothing is attached).
  const auto reply = wp::DecodeReply<wp::CreateDocument::Result>(call(create));
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->failure.text, "Нет связи с LibreOffice Writer.");
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// ---- LibreOffice's pipe socket ----

TEST(WriterPipe, NamesAndPaths) {
  EXPECT_EQ(writer_pipe::SocketPath("kd735_writer_0", 0), "/tmp/OSL_PIPE_0_kd735_writer_0");
  for (const char* name : {"kd735_writer_1000", "a.b-c_D9"})
    EXPECT_TRUE(writer_pipe::ValidName(name));
  for (const char* name : {"", "..", "a/b", "a b", "a;urp", "ä"})
    EXPECT_FALSE(writer_pipe::ValidName(name)) << name;
  EXPECT_FALSE(writer_pipe::ValidName(std::string(101, 'a')));
}

TEST(WriterPipe, OnlyASocketOfTheUsersOwnInAProtectedFolder) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string folder = dir.path().toStdString();
  auto socketAt = [](const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::memcpy(a.sun_path, path.c_str(), path.size());
    const bool ok = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
  };
  const uid_t me = geteuid();
  const uid_t other = me == 0 ? 65534 : 0;
  std::string reason;
  EXPECT_EQ(writer_pipe::CheckSocket(folder + "/absent", me, &reason), writer_pipe::Check::kAbsent);
  ASSERT_TRUE(socketAt(folder + "/own"));
  EXPECT_EQ(writer_pipe::CheckSocket(folder + "/own", me, &reason), writer_pipe::Check::kOwn);
  // Seen as another user, the same socket is foreign.
  EXPECT_EQ(writer_pipe::CheckSocket(folder + "/own", other, &reason),
            writer_pipe::Check::kRefused);
  EXPECT_NE(reason.find(folder + "/own"), std::string::npos) << reason;
  ASSERT_EQ(symlink((folder + "/own").c_str(), (folder + "/link").c_str()), 0);
  EXPECT_EQ(writer_pipe::CheckSocket(folder + "/link", me, &reason), writer_pipe::Check::kRefused);
  EXPECT_NE(reason.find("символьная ссылка"), std::string::npos) << reason;
  QFile file(dir.filePath(QStringLiteral("file")));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  EXPECT_EQ(writer_pipe::CheckSocket(folder + "/file", me, &reason), writer_pipe::Check::kRefused);
  // A folder others may write into without the sticky bit: they could swap the socket.
  ASSERT_EQ(chmod(folder.c_str(), 0777), 0);
  EXPECT_EQ(writer_pipe::CheckSocket(folder + "/own", me, &reason), writer_pipe::Check::kRefused);
  ASSERT_EQ(chmod(folder.c_str(), 01777), 0);
  EXPECT_EQ(writer_pipe::CheckSocket(folder + "/own", me, &reason), writer_pipe::Check::kOwn);
  ASSERT_EQ(chmod(folder.c_str(), 0700), 0);
}

}  // namespace
}  // namespace kd735
