#pragma once

#include <memory>
#include <string>
#include <string_view>

// The Writer side of the report: one connection to a LibreOffice over UNO and the report's
// requests carried out with Writer's API. Every UNO object lives here, on the one thread that
// calls Handle; a failure of any kind becomes a failed reply, never an exception out of Handle.
namespace kd735::writer {

class WriterSession {
 public:
  WriterSession();
  ~WriterSession();
  WriterSession(const WriterSession&) = delete;
  WriterSession& operator=(const WriterSession&) = delete;

  // Runs one request (a payload of the helper protocol) and returns the reply's payload. A
  // payload that is not one whole request is refused before anything is done.
  std::string Handle(std::string_view request);

  // Drops the connection (the LibreOffice it was connected to goes on running).
  void Close();

  // Checks that the UNO runtime loads and can make connections; empty when it can, else why not.
  static std::string CheckRuntime();

  struct State;  // every UNO object of the session (defined with the handlers)

 private:
  std::unique_ptr<State> state_;
};

}  // namespace kd735::writer
