// The file-reading session fed arbitrary replies through a fake command channel. Input: byte 0
// chooses the side; then, for every command the session sends, one byte n followed by n reply
// packets of 64 bytes that the instrument answers with. When the input runs out, the channel
// answers nothing and every further read fails, as with an instrument gone quiet.
#include <QCoreApplication>

#include <algorithm>
#include <deque>
#include <memory>

#include "files/instrument_entry.h"
#include "files/viewer.h"
#include "fuzz/fuzz_check.h"
#include "link/file_reading.h"
#include "link/link_controller.h"
#include "tests/link/fake_bus.h"

using namespace kd735;
using kd735::fuzz::Require;

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  static QCoreApplication app(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const FileSide side = data[0] & 1 ? FileSide::kBscan : FileSide::kMeasure;
  std::size_t at = 1;

  test::FakeBus bus;
  bus.failStreamOpen = true;  // no reader thread: the session alone, one thread, repeatable
  bus.Attach(test::MakeDevice(QStringLiteral("/dev/kd1"), QStringLiteral("KD735 N 1")));
  LinkController link(bus, nullptr);
  link.Start();
  Require(!link.Instruments().isEmpty(), "the instrument is there");
  bus.rewrite = [&](const Packet&, std::deque<Packet>& replies) {
    replies.clear();
    if (at >= size) return;
    const int count = data[at++];
    for (int k = 0; k < count && at < size; ++k) {
      Packet p{};
      const std::size_t n = std::min<std::size_t>(kPacketSize, size - at);
      std::copy_n(data + at, n, p.begin());
      at += n;
      replies.push_back(p);
    }
  };

  int appended = 0;
  InstrumentFileReader::Hooks hooks;
  hooks.processEvents = [] {};
  hooks.showMessage = [](MessageKind, const QString& text) {
    Require(!text.isEmpty(), "a message has a text");
  };
  hooks.clearList = [](FileSide) {};
  hooks.appendFile = [&](const InstrumentFile& file) {
    ++appended;
    Require(file.side == side, "the file's side");
    Require(file.number == appended, "files numbered in order", QString::number(file.number));
    Require(file.packetsStored >= 0 && file.packetsStored <= 128, "packet count");
    const InstrumentFileEntry entry = MakeInstrumentFileEntry(file);
    kd735::fuzz::RequireVisible(entry.text, "list entry");
    Require(entry.incomplete == !file.Complete(), "incomplete mark");
    for (const DescriptionLine& line : DescribeRecord(entry.content->record).lines)
      kd735::fuzz::RequireVisible(line.text, "description line");
  };
  InstrumentFileReader reader(link, hooks);
  reader.Read(side);
  Require(!reader.Busy(), "the session ends");
  for (FileSide s : {FileSide::kMeasure, FileSide::kBscan})
    Require(reader.Gauge(s).position == 0, "gauges back at 0");
  link.Shutdown();
  return 0;
}
