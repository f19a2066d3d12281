#include <gtest/gtest.h>

#include "link/file_reading.h"
#include "link/link_controller.h"
#include "tests/link/fake_bus.h"

namespace kd735 {
namespace {

using test::FakeBus;
using File = std::array<std::uint8_t, kFileRecordSize>;

File MakeFile(int seed) {
  File f;
  auto value = std::uint8_t(seed * 31 + 1);  // seed * 31 + 7 * offset + 1, in a byte
  for (std::uint8_t& b : f) {
    b = value;
    value = std::uint8_t(value + 7);
  }
  return f;
}

bool IsFileRequest(const Packet& cmd, int index) {
  return ReplyWord(cmd, 0) == command::kReadFile && ReplyWord(cmd, 1) == index;
}

class FileReadingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::App();
    bus.Attach(test::MakeDevice("/dev/kd1", "KD735 N 1"));
    for (int i = 0; i < 3; ++i) bus.files[kMeasureFileKind].push_back(MakeFile(i));
    for (int i = 0; i < 2; ++i) bus.files[kBscanFileKind].push_back(MakeFile(10 + i));
    link = std::make_unique<LinkController>(bus, nullptr);
    link->Start();
    InstrumentFileReader::Hooks hooks;
    hooks.processEvents = [this] {
      ++eventPasses;
      if (onEvents) onEvents();
      QCoreApplication::processEvents();
    };
    hooks.showMessage = [this](MessageKind kind, const QString& text) {
      messages.push_back({kind, text});
    };
    hooks.clearList = [this](FileSide) {
      ++clears;
      entries.clear();
    };
    hooks.appendFile = [this](const InstrumentFile& f) { entries.push_back(f); };
    reader = std::make_unique<InstrumentFileReader>(*link, hooks);
  }
  void TearDown() override { link->Shutdown(); }

  FakeBus bus;
  std::unique_ptr<LinkController> link;
  std::unique_ptr<InstrumentFileReader> reader;
  std::vector<std::pair<MessageKind, QString>> messages;
  std::vector<InstrumentFile> entries;
  int clears = 0;
  int eventPasses = 0;
  std::function<void()> onEvents;
};

TEST_F(FileReadingTest, ReadsEveryFileOfTheSide) {
  struct Case {
    FileSide side;
    std::uint16_t kind;
    const char16_t* label;
  } cases[] = {
      {FileSide::kMeasure, kMeasureFileKind, u"Найдено файлов - 3"},
      {FileSide::kBscan, kBscanFileKind, u"Найдено файлов -2"},
  };
  for (const Case& c : cases) {
    entries.clear();
    bus.commands.clear();
    reader->Read(c.side);
    const auto& want = bus.files[c.kind];
    ASSERT_EQ(entries.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
      EXPECT_EQ(entries[i].number, int(i) + 1);
      EXPECT_EQ(entries[i].side, c.side);
      EXPECT_TRUE(entries[i].Complete());
      EXPECT_EQ(entries[i].bytes, want[i]);
    }
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(reader->Label(c.side), QString::fromUtf16(c.label));
    EXPECT_EQ(reader->Gauge(c.side).maximum, int(want.size()) - 1);
    EXPECT_EQ(reader->Gauge(c.side).position, 0);
    EXPECT_FALSE(reader->Busy());
    // Prepare, listing, then prepare and request per file.
    std::vector<Packet> sent{BuildCommandPacket(0x0BBB, 0), BuildCommandPacket(0x0E00, c.kind)};
    for (std::size_t i = 0; i < want.size(); ++i) {
      sent.push_back(BuildCommandPacket(0x0BBB, 0));
      sent.push_back(BuildCommandPacket(0x0E15, std::uint16_t(i)));
    }
    EXPECT_EQ(bus.commands, sent);
  }
  EXPECT_EQ(reader->Label(FileSide::kMeasure), QStringLiteral("Найдено файлов - 3"));
}

TEST_F(FileReadingTest, ListingIsTriedThreeTimes) {
  for (int bad : {1, 2, 3}) {
    int listings = 0;
    bus.rewrite = [&](const Packet& cmd, std::deque<Packet>& replies) {
      if (ReplyWord(cmd, 0) == command::kListFiles && ++listings <= bad) replies[0][0] = 0x0F;
    };
    entries.clear();
    messages.clear();
    clears = 0;
    reader->Read(FileSide::kMeasure);
    EXPECT_EQ(listings, std::min(bad + 1, 3)) << bad;
    if (bad < 3) {
      EXPECT_EQ(entries.size(), 3u);
      EXPECT_TRUE(messages.empty());
    } else {
      EXPECT_EQ(clears, 0);
      ASSERT_EQ(messages.size(), 1u);
      EXPECT_EQ(messages[0].first, MessageKind::kError);
      EXPECT_EQ(messages[0].second, InstrumentFileReader::ListingErrorText(FileSide::kMeasure));
      EXPECT_EQ(reader->Label(FileSide::kMeasure), QStringLiteral("Найдено 0 файлов"));
    }
  }
}

TEST_F(FileReadingTest, ForeignPacketsAndAnUnmatchedLastPacket) {
  // File 0: packet 5 of another kind, packet 6 of another file, and a packet 127 of another file
  // that ends it; files 1 and 2 are whole. Nothing of file 0's missing parts may come from
  // elsewhere: they stay zero.
  bus.rewrite = [](const Packet& cmd, std::deque<Packet>& replies) {
    if (!IsFileRequest(cmd, 0)) return;
    replies[5][3] = std::uint8_t(kBscanFileKind);
    replies[6][5] = 2;
    replies[127][5] = 1;
  };
  reader->Read(FileSide::kMeasure);
  ASSERT_EQ(entries.size(), 3u);
  const File want = MakeFile(0);
  for (std::size_t n = 0; n < 128; ++n) {
    const bool stored = n != 5 && n != 6 && n != 127;
    const auto got = std::span(entries[0].bytes).subspan(32 * n, 32);
    const auto exp = std::span(want).subspan(32 * n, 32);
    EXPECT_EQ(std::equal(got.begin(), got.end(), exp.begin()), stored) << n;
    if (!stored) {
      EXPECT_TRUE(std::all_of(got.begin(), got.end(), [](auto b) { return b == 0; }));
    }
  }
  // Reported, not silently kept.
  EXPECT_FALSE(entries[0].Complete());
  EXPECT_EQ(entries[0].packetsStored, 125);
  const QString report =
      QStringLiteral("  Файл 001 прочитан не полностью: получено 125 из 128 пакетов");
  EXPECT_TRUE(std::any_of(link->Log().begin(), link->Log().end(),
                          [&](const QString& line) { return line.endsWith(report); }));
  EXPECT_TRUE(entries[1].Complete());
  EXPECT_EQ(entries[1].bytes, MakeFile(1));
}

TEST_F(FileReadingTest, AFileEndsAfter141Replies) {
  bus.files[kMeasureFileKind].resize(1);
  bus.rewrite = [](const Packet& cmd, std::deque<Packet>& replies) {
    if (!IsFileRequest(cmd, 0)) return;
    replies.pop_back();                                   // no packet 127
    replies.insert(replies.end(), 100, replies.front());  // and repeats instead
  };
  reader->Read(FileSide::kMeasure);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].packetsStored, 127);
  EXPECT_EQ(bus.replies.size(), 127u + 100u - 141u);
}

TEST_F(FileReadingTest, AbortKeepsTheEntriesBefore) {
  // The abort comes while the packets of the second file arrive.
  onEvents = [&] {
    if (entries.size() == 1 && eventPasses > 200) reader->Abort();
  };
  reader->Read(FileSide::kMeasure);
  ASSERT_EQ(entries.size(), 1u);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].first, MessageKind::kInformation);
  EXPECT_EQ(messages[0].second, QStringLiteral("Чтение файлов прервано пользователем"));
  EXPECT_FALSE(reader->Busy());
  EXPECT_EQ(reader->Gauge(FileSide::kMeasure).position, 0);
}

TEST_F(FileReadingTest, NoFilesKeepsTheList) {
  reader->Read(FileSide::kMeasure);
  ASSERT_EQ(entries.size(), 3u);
  bus.files[kBscanFileKind].clear();
  reader->Read(FileSide::kBscan);
  EXPECT_EQ(clears, 1);
  EXPECT_EQ(entries.size(), 3u);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0],
            std::make_pair(MessageKind::kError, QStringLiteral("В приборе нет файлов В-сканов")));
  EXPECT_EQ(reader->Label(FileSide::kBscan), QStringLiteral("Найдено 0 файлов"));
}

TEST_F(FileReadingTest, UnplugMidFileKeepsTheFilesRead) {
  onEvents = [&] {
    if (entries.size() == 1 && eventPasses > 200) bus.Detach("/dev/kd1");
  };
  reader->Read(FileSide::kMeasure);
  EXPECT_EQ(clears, 1);  // emptied before the failure
  ASSERT_EQ(entries.size(), 1u);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0],
            std::make_pair(MessageKind::kError, QStringLiteral("НЕТ связи с прибором !!!")));
  // The unplug was followed while the reading processed events.
  ASSERT_TRUE(test::PumpUntil([&] { return link->Instruments().isEmpty(); }));
  EXPECT_EQ(link->StatusText(LinkController::kLinkPanel), QStringLiteral("Нет связи c КД735!!!"));
  EXPECT_FALSE(reader->Busy());
}

TEST_F(FileReadingTest, NothingIsAskedWithoutAnInstrument) {
  bus.Detach("/dev/kd1");
  ASSERT_TRUE(test::PumpUntil([&] { return link->Instruments().isEmpty(); }));
  bus.commands.clear();
  reader->Read(FileSide::kMeasure);
  EXPECT_TRUE(bus.commands.empty());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].first, MessageKind::kInformation);
  EXPECT_EQ(messages[0].second, InstrumentFileReader::NoInstrumentText());
  EXPECT_EQ(reader->Label(FileSide::kMeasure), QStringLiteral("Сообщение"));
}

}  // namespace
}  // namespace kd735
