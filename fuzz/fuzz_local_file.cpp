// Local-file loading: any bytes as a file. The file is a memory file reached through its
// /proc/self/fd name, so no disk is written per input.
#include <sys/mman.h>
#include <unistd.h>

#include <QFileInfo>

#include <algorithm>

#include "files/local_file.h"
#include "files/viewer.h"
#include "fuzz/fuzz_check.h"

using namespace kd735;
using kd735::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const int fd = ::memfd_create("kd735-fuzz", MFD_CLOEXEC);
  static const QString path = QStringLiteral("/proc/self/fd/%1").arg(fd);
  Require(fd >= 0, "memory file");
  Require(::ftruncate(fd, 0) == 0, "truncate");
  std::size_t written = 0;
  while (written < size) {
    const ssize_t n = ::pwrite(fd, data + written, size - written, off_t(written));
    Require(n > 0, "write");
    written += std::size_t(n);
  }

  const LoadedFile loaded = LoadLocalFile(path);
  const bool accepted = IsAcceptedLocalFileSize(qint64(size));
  Require(loaded.ok() == accepted, "size rule");
  if (!accepted) {
    Require(loaded.error == BadSizeMessage(path), "size message", loaded.error);
    return 0;
  }
  const auto& record = loaded.content->record;
  Require(std::equal(record.begin(), record.begin() + kStoredRecordSize, data), "stored bytes");
  Require(
      std::all_of(record.begin() + kStoredRecordSize, record.end(), [](auto b) { return b == 0; }),
      "the rest is zero");
  Require(loaded.entryText == QFileInfo(path).fileName(), "entry text");
  for (const DescriptionLine& line : DescribeRecord(record).lines)
    kd735::fuzz::RequireVisible(line.text, "description line");
  return 0;
}
