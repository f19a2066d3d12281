// The messages of the Writer helper from arbitrary bytes. A request is decoded whole or not at
// all: what decodes is exactly its own encoding (nothing skipped, nothing left over), a cut or a
// byte more refuses it. Replies follow the same rules.
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "report/writer_protocol.h"

namespace wp = kd735::writer_protocol;
using kd735::fuzz::Require;

namespace {

template <class Result>
void CheckReply(std::string_view payload) {
  const auto reply = wp::DecodeReply<Result>(payload);
  if (!reply) return;
  const std::string again = wp::EncodeReply(*reply);
  // A refusal carries no results; its encoding with them is longer by exactly those.
  Require(again == payload || (reply->status == wp::Status::kFailed && again.starts_with(payload)),
          "a reply decodes to its own encoding");
  if (!payload.empty())
    Require(!wp::DecodeReply<Result>(payload.substr(0, payload.size() - 1)) ||
                reply->status == wp::Status::kFailed,
            "a cut reply is refused");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view payload(reinterpret_cast<const char*>(data), size);
  if (const auto request = wp::DecodeRequest(payload)) {
    Require(wp::EncodeRequest(*request) == payload, "a request decodes to its own encoding");
    if (size > 0)
      Require(!wp::DecodeRequest(payload.substr(0, size - 1)), "a cut request is refused");
    Require(!wp::DecodeRequest(std::string(payload) + '\0'), "a byte more is refused");
  }
  CheckReply<wp::AppendBlock::Result>(payload);
  CheckReply<wp::CloseDocuments::Result>(payload);
  CheckReply<wp::NoResult>(payload);
  return 0;
}
