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
    if constexpr (std::is_same_v<T, Legacy>) {
      return DecodeFields<I + 1>(op, d);
    } else {
      if (op != T::kOp) return DecodeFields<I + 1>(op, d);
      T request;
      Get(d, request);
      return Request(std::move(request));
    }
  }
}

std::optional<Request> DecodeLegacy(Op op, Decoder& d) {
  const char* signature = LegacySignature(op);
  if (!signature) return std::nullopt;
  Legacy request;
  request.op = op;
  for (const char* k = signature; *k; ++k) {
    switch (*k) {
      case 'b': {
        bool v = false;
        Get(d, v);
        request.args.emplace_back(v);
        break;
      }
      case 'i':
        request.args.emplace_back(d.I32());
        break;
      default:
        request.args.emplace_back(d.Bytes());
        break;
    }
  }
  return request;
}

}  // namespace

const char* LegacySignature(Op op) {
  switch (op) {
    case Op::kLegacySetVisible:
      return "b";
    case Op::kLegacyDocumentsAdd:
      return "sb";
    case Op::kLegacyActiveDocument:
    case Op::kLegacyActivate:
    case Op::kLegacyQuit:
    case Op::kLegacyCloseOurs:
      return "";
    case Op::kLegacyName:
    case Op::kLegacyFieldsUpdate:
    case Op::kLegacySetAlignment:
    case Op::kLegacySetFontSize:
    case Op::kLegacySetFontBold:
    case Op::kLegacySetFontItalic:
    case Op::kLegacySetFontColorIndex:
    case Op::kLegacyCollapse:
      return "i";
    case Op::kLegacySetVariable:
      return "iss";
    case Op::kLegacyTablesItem:
    case Op::kLegacyRowsAdd:
    case Op::kLegacyRowsCount:
      return "ii";
    case Op::kLegacyCellSelect:
      return "iiii";
    case Op::kLegacySetText:
    case Op::kLegacySetFontName:
      return "s";
    case Op::kLegacyPastePicture:
      return "sii";
    default:
      return nullptr;
  }
}

Op OpOf(const Request& request) {
  return std::visit(
      [](const auto& r) {
        if constexpr (std::is_same_v<std::decay_t<decltype(r)>, Legacy>)
          return r.op;
        else
          return std::decay_t<decltype(r)>::kOp;
      },
      request);
}

std::string EncodeRequest(const Request& request) {
  Encoder e;
  e.U8(static_cast<std::uint8_t>(OpOf(request)));
  std::visit(
      [&e](const auto& r) {
        if constexpr (std::is_same_v<std::decay_t<decltype(r)>, Legacy>) {
          for (const Legacy::Value& v : r.args) std::visit([&e](const auto& x) { Put(e, x); }, v);
        } else {
          Put(e, r);
        }
      },
      request);
  return std::move(e.data());
}

std::optional<Request> DecodeRequest(std::string_view payload) {
  Decoder d(payload);
  const auto op = static_cast<Op>(d.U8());
  if (!d.ok()) return std::nullopt;
  std::optional<Request> request = DecodeFields(op, d);
  if (!request) request = DecodeLegacy(op, d);
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
