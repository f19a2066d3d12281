#include "report/writer_protocol.h"

namespace kd735::writer_protocol {

namespace {

// Decodes the alternative of `Request` whose code is `op`.
template <std::size_t I = 0>
std::optional<Request> DecodeFields(Op op, Decoder& d) {
  if constexpr (I == std::variant_size_v<Request>) {
    return std::nullopt;
  } else {
    using T = std::variant_alternative_t<I, Request>;
    if (op != T::kOp) return DecodeFields<I + 1>(op, d);
    T request;
    Get(d, request);
    return Request(std::move(request));
  }
}

}  // namespace

Op OpOf(const Request& request) {
  return std::visit([](const auto& r) { return std::decay_t<decltype(r)>::kOp; }, request);
}

std::string EncodeRequest(const Request& request) {
  Encoder e;
  e.U8(static_cast<std::uint8_t>(OpOf(request)));
  std::visit([&e](const auto& r) { Put(e, r); }, request);
  return std::move(e.data());
}

std::optional<Request> DecodeRequest(std::string_view payload) {
  Decoder d(payload);
  const auto op = static_cast<Op>(d.U8());
  if (!d.ok()) return std::nullopt;
  std::optional<Request> request = DecodeFields(op, d);
  if (!request || !d.ok() || !d.AtEnd()) return std::nullopt;
  return request;
}

std::string Framed(std::string_view payload) {
  std::string m(4, '\0');
  const auto n = static_cast<std::uint32_t>(payload.size());
  for (std::size_t i = 0; i < 4; ++i) m[i] = static_cast<char>((n >> (8 * i)) & 0xFFu);
  m.append(payload);
  return m;
}

std::uint32_t MessageLength(const char prefix[4]) {
  std::uint32_t n = 0;
  for (std::size_t i = 0; i < 4; ++i)
    n |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(prefix[i])) << (8 * i);
  return n;
}

}  // namespace kd735::writer_protocol
