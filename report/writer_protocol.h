#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The messages between the report program and its LibreOffice helper process (kd735_writer).
// The helper holds every UNO object; the program holds none and links no LibreOffice library.
//
// A message is a 4-byte little-endian length followed by that many bytes. A request starts with
// its operation code, a reply with its status; then come the values in the order the operation
// lists them: integers as 4 bytes little-endian, booleans as one byte, strings and byte blocks as
// a 4-byte length and the bytes (strings in UTF-8).
namespace kd735::writer_protocol {

inline constexpr std::uint32_t kMaxMessage = 64u * 1024u * 1024u;

enum class Op : std::uint8_t {
  // pipe name -> AttachState. Nobody listening on the pipe is not an error. An existing
  // connection to the same pipe is checked with one call and kept.
  kAttach = 1,
  kSetVisible,      // visible (bool)
  kDocumentsCount,  // -> count (int)
  kDocumentsAdd,    // template path, as template (bool)
  kActiveDocument,  // -> document id (int)
  kActivate,
  kQuit,
  kName,               // document id -> name
  kSetVariable,        // document id, name, value
  kFieldsUpdate,       // document id
  kTablesItem,         // document id, position
  kRowsAdd,            // document id, position
  kRowsCount,          // document id, position -> count (int)
  kCellSelect,         // document id, position, row, column
  kSetAlignment,       // alignment (int)
  kSetText,            // text
  kPastePicture,       // PNG bytes, width and height in pixels
  kSetFontName,        // name
  kSetFontSize,        // size in hundredths of a point (int)
  kSetFontBold,        // bold (int)
  kSetFontItalic,      // italic (int)
  kSetFontColorIndex,  // colour index (int)
  kCollapse,           // direction (int)
  kStore,              // document id, file path, filter name
  kCloseDocuments,     // the documents this connection made are closed without saving
  kTerminate,          // LibreOffice is ended whatever it holds (only for an instance of our own)
  kBeginAction,        // the program's outermost Connect: one user action begins
  kEndAction,          // its Disconnect: the action's work is shown in full
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

class Encoder {
 public:
  Encoder& U8(std::uint8_t v) {
    data_.push_back(static_cast<char>(v));
    return *this;
  }
  Encoder& Op(writer_protocol::Op op) { return U8(static_cast<std::uint8_t>(op)); }
  Encoder& Bool(bool v) { return U8(v ? 1 : 0); }
  Encoder& I32(std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    for (int i = 0; i < 4; ++i) data_.push_back(static_cast<char>((u >> (8 * i)) & 0xFF));
    return *this;
  }
  Encoder& Bytes(std::string_view bytes) {
    I32(static_cast<std::int32_t>(bytes.size()));
    data_.append(bytes);
    return *this;
  }
  Encoder& Str(std::string_view utf8) { return Bytes(utf8); }

  const std::string& Payload() const { return data_; }
  // The whole message: length prefix and payload.
  std::string Message() const {
    std::string m;
    const auto n = static_cast<std::uint32_t>(data_.size());
    for (int i = 0; i < 4; ++i) m.push_back(static_cast<char>((n >> (8 * i)) & 0xFF));
    return m + data_;
  }

 private:
  std::string data_;
};

// Reads the values of one payload; a read past the end leaves ok() false and yields zeros.
class Decoder {
 public:
  explicit Decoder(std::string_view payload) : data_(payload) {}
  bool ok() const { return ok_; }
  bool AtEnd() const { return pos_ == data_.size(); }

  std::uint8_t U8() {
    if (!Need(1)) return 0;
    return static_cast<std::uint8_t>(data_[pos_++]);
  }
  bool Bool() { return U8() != 0; }
  std::int32_t I32() {
    if (!Need(4)) return 0;
    std::uint32_t u = 0;
    for (int i = 0; i < 4; ++i)
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
  std::string Str() { return Bytes(); }

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

// The length of a message from its 4-byte prefix.
inline std::uint32_t MessageLength(const char prefix[4]) {
  std::uint32_t n = 0;
  for (int i = 0; i < 4; ++i)
    n |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(prefix[i])) << (8 * i);
  return n;
}

}  // namespace kd735::writer_protocol
