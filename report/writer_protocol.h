#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <variant>
#include <vector>

// The messages between the report program and its LibreOffice helper process (kd735_writer).
// The helper holds every UNO object; the program holds none and links no LibreOffice library.
//
// A message is a 4-byte little-endian length followed by that many bytes. A request is its
// operation code and then its fields in the order its struct lists them; a reply is the status,
// the failure's text and flags, and then the operation's results (always all of them, so a
// failure can say how far it got). Integers are 4 bytes little-endian, booleans one byte (0 or
// 1), strings and byte blocks a 4-byte length and the bytes (strings in UTF-8), lists a 4-byte
// count and the items. A message is decoded whole before anything is done with it: a field that
// runs past the end, a boolean that is neither 0 nor 1, or a byte left over refuses it.
//
// This file links nothing of LibreOffice and nothing of Qt: the helper, the program and the fuzz
// target share it.
namespace kd735::writer_protocol {

inline constexpr std::uint32_t kMaxMessage = 64u * 1024u * 1024u;

enum class Op : std::uint8_t {
  // Connect to the LibreOffice on a pipe (an existing connection is checked); once connected,
  // one user action begins: layout is held back until it ends.
  kAttach = 1,
  kEndAction = 3,   // the action's work is shown in full
  kCreateDocument,  // a new document from a template; it becomes the active document
  kFillVariables,   // the active document's variables, then its fields updated
  kAppendBlock,     // one data block as a new last row of a table of the active document
  kAppendSummary,   // a heading and a two-column table after the active document's last table
  kWhere,           // the active document's name and file
  kStore,           // a copy of the active document stored to a file
  kCloseDocuments,  // close all as Word quits; or store, then close, what nobody could see
  kTerminate,       // LibreOffice is ended whatever it holds (only for an instance of our own)

};

enum class Status : std::uint8_t { kOk = 0, kFailed = 1 };

enum class AttachState : std::uint8_t {
  kAttached = 0,
  kNobody = 1,  // nobody takes connections on the pipe
  kEnding = 2,  // a LibreOffice that is ending still does, for a moment
};

// Flags of a failed reply: what the helper knows about the cause.
inline constexpr std::uint8_t kConnectionLost = 1;  // the bridge to LibreOffice is gone
inline constexpr std::uint8_t kDocumentClosed = 2;  // the document was closed in LibreOffice
inline constexpr std::uint8_t kRefused = 4;         // the request was not run at all

// How far a block got (the port's BlockStage, in the same order).
enum class Stage : std::uint8_t { kNone, kRowAdded, kNumberCell, kPictureCell, kComplete };

// What CloseDocuments does.
enum class CloseMode : std::uint8_t {
  kQuit = 0,   // as Word's Quit: LibreOffice ends and asks about unsaved documents itself
  kStore = 1,  // each document not stored since its last change is stored into `folder`
  kClose = 2,  // the documents are closed without a question
};

struct Font {
  std::string name;
  std::int32_t centipoints = 1000;  // the size in hundredths of a point
  bool bold = false;
  bool italic = false;
  template <class S>
  static auto Tie(S& s) {
    return std::tie(s.name, s.centipoints, s.bold, s.italic);
  }
};

using Pairs = std::vector<std::pair<std::string, std::string>>;

struct NoResult {
  template <class S>
  static auto Tie(S&) {
    return std::tie();
  }
};

struct Attach {
  static constexpr Op kOp = Op::kAttach;
  std::string pipe;
  template <class S>
  static auto Tie(S& s) {
    return std::tie(s.pipe);
  }
  struct Result {
    std::uint8_t state = static_cast<std::uint8_t>(AttachState::kNobody);
    template <class S>
    static auto Tie(S& s) {
      return std::tie(s.state);
    }
  };
};

struct EndAction {
  static constexpr Op kOp = Op::kEndAction;
  template <class S>
  static auto Tie(S&) {
    return std::tie();
  }
  using Result = NoResult;
};

struct CreateDocument {
  static constexpr Op kOp = Op::kCreateDocument;
  std::string templatePath;  // absolute
  bool hidden = false;       // no window at all (a headless LibreOffice)
  template <class S>
  static auto Tie(S& s) {
    return std::tie(s.templatePath, s.hidden);
  }
  struct Result {
    std::string name;
    template <class S>
    static auto Tie(S& s) {
      return std::tie(s.name);
    }
  };
};

struct FillVariables {
  static constexpr Op kOp = Op::kFillVariables;
  Pairs variables;  // name, value; set in this order
  template <class S>
  static auto Tie(S& s) {
    return std::tie(s.variables);
  }
  using Result = NoResult;
};

struct AppendBlock {
  static constexpr Op kOp = Op::kAppendBlock;
  std::int32_t table = 1;
  std::int32_t number = 0;
  std::string png;
  std::int32_t width = 0;  // the picture's size in pixels
  std::int32_t height = 0;
  std::vector<std::string> lines;
  Font font;
  template <class S>
  static auto Tie(S& s) {
    return std::tie(s.table, s.number, s.png, s.width, s.height, s.lines, s.font);
  }
  struct Result {
    bool noDocument = false;
    std::uint8_t stage = static_cast<std::uint8_t>(Stage::kNone);
    std::string documentName;
    template <class S>
    static auto Tie(S& s) {
      return std::tie(s.noDocument, s.stage, s.documentName);
    }
  };
};

struct AppendSummary {
  static constexpr Op kOp = Op::kAppendSummary;
  std::string heading;
  Pairs rows;  // label, value
  Font font;
  template <class S>
  static auto Tie(S& s) {
    return std::tie(s.heading, s.rows, s.font);
  }
  struct Result {
    bool noDocument = false;
    std::string documentName;
    template <class S>
    static auto Tie(S& s) {
      return std::tie(s.noDocument, s.documentName);
    }
  };
};

struct Where {
  static constexpr Op kOp = Op::kWhere;
  template <class S>
  static auto Tie(S&) {
    return std::tie();
  }
  struct Result {
    std::string name;
    std::string file;     // a local path; empty while the document has none
    bool hidden = false;  // opened without a window
    template <class S>
    static auto Tie(S& s) {
      return std::tie(s.name, s.file, s.hidden);
    }
  };
};

struct Store {
  static constexpr Op kOp = Op::kStore;
  std::string path;    // absolute
  std::string filter;  // LibreOffice's filter name
  template <class S>
  static auto Tie(S& s) {
    return std::tie(s.path, s.filter);
  }
  using Result = NoResult;
};

struct CloseDocuments {
  static constexpr Op kOp = Op::kCloseDocuments;
  std::uint8_t mode = static_cast<std::uint8_t>(CloseMode::kQuit);
  std::string folder;  // kStore: where the stored copies go (a private folder)
  bool all = false;    // kStore, kClose: every text document, not only those this helper made
  template <class S>
  static auto Tie(S& s) {
    return std::tie(s.mode, s.folder, s.all);
  }
  struct Result {
    std::int32_t documents = 0;  // text documents open before the call
    Pairs stored;                // file in `folder`, the name the document goes by
    template <class S>
    static auto Tie(S& s) {
      return std::tie(s.documents, s.stored);
    }
  };
};

struct Terminate {
  static constexpr Op kOp = Op::kTerminate;
  template <class S>
  static auto Tie(S&) {
    return std::tie();
  }
  using Result = NoResult;
};

using Request =
    std::variant<Attach, EndAction, CreateDocument, FillVariables, AppendBlock, AppendSummary,
                 Where, Store, CloseDocuments, Terminate>;

// The payload of a request (without its length prefix).
std::string EncodeRequest(const Request& request);
// The request, or nothing when the payload is not one request decoded whole.
std::optional<Request> DecodeRequest(std::string_view payload);
Op OpOf(const Request& request);

// A reply: the outcome, then the results of the request's kind.
struct Failure {
  std::string text;
  std::uint8_t flags = 0;
};

template <class Result>
struct Reply {
  Status status = Status::kOk;
  Failure failure;
  Result result;
};

// The whole message: length prefix and payload.
std::string Framed(std::string_view payload);
// The length of a message from its 4-byte prefix.
std::uint32_t MessageLength(const char prefix[4]);

// ---- the encoding of values, shared by requests and replies ----

class Encoder {
 public:
  void U8(std::uint8_t v) { data_.push_back(static_cast<char>(v)); }
  void I32(std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    for (int i = 0; i < 4; ++i) data_.push_back(static_cast<char>((u >> (8 * i)) & 0xFFu));
  }
  void Bytes(std::string_view bytes) {
    I32(static_cast<std::int32_t>(bytes.size()));
    data_.append(bytes);
  }
  std::string& data() { return data_; }

 private:
  std::string data_;
};

// Reads values; a read past the end or a bad value leaves ok() false and yields zeros.
class Decoder {
 public:
  explicit Decoder(std::string_view payload) : data_(payload) {}
  bool ok() const { return ok_; }
  bool AtEnd() const { return pos_ == data_.size(); }
  std::size_t Left() const { return data_.size() - pos_; }
  void Fail() { ok_ = false; }

  std::uint8_t U8() {
    if (!Need(1)) return 0;
    return static_cast<std::uint8_t>(data_[pos_++]);
  }
  std::int32_t I32() {
    if (!Need(4)) return 0;
    std::uint32_t u = 0;
    for (std::size_t i = 0; i < 4; ++i)
      u |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(data_[pos_ + i])) << (8 * i);
    pos_ += 4;
    return static_cast<std::int32_t>(u);
  }
  std::string Bytes() {
    const std::int32_t n = I32();
    if (n < 0 || !Need(static_cast<std::size_t>(n))) {
      ok_ = false;
      return {};
    }
    std::string s(data_.substr(pos_, static_cast<std::size_t>(n)));
    pos_ += static_cast<std::size_t>(n);
    return s;
  }

 private:
  bool Need(std::size_t n) {
    if (!ok_ || data_.size() - pos_ < n) {
      ok_ = false;
      return false;
    }
    return true;
  }

  std::string_view data_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

inline void Put(Encoder& e, bool v) { e.U8(v ? 1 : 0); }
inline void Put(Encoder& e, std::uint8_t v) { e.U8(v); }
inline void Put(Encoder& e, std::int32_t v) { e.I32(v); }
inline void Put(Encoder& e, const std::string& v) { e.Bytes(v); }
template <class A, class B>
void Put(Encoder& e, const std::pair<A, B>& v);
template <class T>
void Put(Encoder& e, const std::vector<T>& v);
template <class T, class = decltype(T::Tie(std::declval<const T&>()))>
void Put(Encoder& e, const T& v) {
  std::apply([&e](const auto&... f) { (Put(e, f), ...); }, T::Tie(v));
}
template <class A, class B>
void Put(Encoder& e, const std::pair<A, B>& v) {
  Put(e, v.first);
  Put(e, v.second);
}
template <class T>
void Put(Encoder& e, const std::vector<T>& v) {
  e.I32(static_cast<std::int32_t>(v.size()));
  for (const T& item : v) Put(e, item);
}

inline void Get(Decoder& d, bool& v) {
  const std::uint8_t b = d.U8();
  if (b > 1) d.Fail();
  v = b == 1;
}
inline void Get(Decoder& d, std::uint8_t& v) { v = d.U8(); }
inline void Get(Decoder& d, std::int32_t& v) { v = d.I32(); }
inline void Get(Decoder& d, std::string& v) { v = d.Bytes(); }
template <class A, class B>
void Get(Decoder& d, std::pair<A, B>& v);
template <class T>
void Get(Decoder& d, std::vector<T>& v);
template <class T, class = decltype(T::Tie(std::declval<T&>()))>
void Get(Decoder& d, T& v) {
  std::apply([&d](auto&... f) { (Get(d, f), ...); }, T::Tie(v));
}
template <class A, class B>
void Get(Decoder& d, std::pair<A, B>& v) {
  Get(d, v.first);
  Get(d, v.second);
}
template <class T>
void Get(Decoder& d, std::vector<T>& v) {
  const std::int32_t n = d.I32();
  // Every item takes at least one byte: a count beyond what is left is a lie, refused before
  // anything is allocated for it.
  if (n < 0 || static_cast<std::size_t>(n) > d.Left()) {
    d.Fail();
    return;
  }
  v.clear();
  v.reserve(static_cast<std::size_t>(n));
  for (std::int32_t i = 0; i < n && d.ok(); ++i) Get(d, v.emplace_back());
}

template <class Result>
std::string EncodeReply(const Reply<Result>& reply) {
  Encoder e;
  e.U8(static_cast<std::uint8_t>(reply.status));
  e.Bytes(reply.failure.text);
  e.U8(reply.failure.flags);
  Put(e, reply.result);
  return std::move(e.data());
}

// The reply, or nothing when the payload is not one reply of this kind decoded whole.
template <class Result>
std::optional<Reply<Result>> DecodeReply(std::string_view payload) {
  Decoder d(payload);
  Reply<Result> reply;
  const std::uint8_t status = d.U8();
  if (status > static_cast<std::uint8_t>(Status::kFailed)) return std::nullopt;
  reply.status = static_cast<Status>(status);
  reply.failure.text = d.Bytes();
  reply.failure.flags = d.U8();
  // A request refused before it ran has no results to give.
  if (reply.status == Status::kFailed && d.ok() && d.AtEnd()) return reply;
  Get(d, reply.result);
  if (!d.ok() || !d.AtEnd()) return std::nullopt;
  return reply;
}

}  // namespace kd735::writer_protocol
