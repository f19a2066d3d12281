#include "link/file_reading.h"

#include <QCoreApplication>
#include <bitset>

#include "link/link_controller.h"

namespace kd735 {

InstrumentFileReader::InstrumentFileReader(LinkController& link, Hooks hooks, QObject* parent)
    : QObject(parent), link_(link), hooks_(std::move(hooks)) {
  label_.fill(QStringLiteral("Сообщение"));
}

std::uint16_t InstrumentFileReader::FileKind(FileSide side) {
  return side == FileSide::kMeasure ? kMeasureFileKind : kBscanFileKind;
}

QString InstrumentFileReader::CountText(FileSide side, int count) {
  return (side == FileSide::kMeasure ? QStringLiteral("Найдено файлов - ")
                                     : QStringLiteral("Найдено файлов -")) +
         QString::number(count);
}

QString InstrumentFileReader::NoFilesText(FileSide side) {
  return side == FileSide::kMeasure ? QStringLiteral("В приборе нет файлов измерений")
                                    : QStringLiteral("В приборе нет файлов В-сканов");
}

QString InstrumentFileReader::ListingErrorText(FileSide side) {
  return side == FileSide::kMeasure
             ? QStringLiteral("Ошибка составления списка \rфайлов измерений !!!")
             : QStringLiteral("Ошибка составления списка \rфайлов В-сканов !!!");
}

QString InstrumentFileReader::NoInstrumentText() {
  return QStringLiteral("Нет подключенных приборов КД735\rНевозможно прочитать файлы !!!");
}

QString InstrumentFileReader::LinkFailureText() {
  return QStringLiteral("НЕТ связи с прибором !!!");
}

QString InstrumentFileReader::AbortText() {
  return QStringLiteral("Чтение файлов прервано пользователем");
}

QString InstrumentFileReader::FileMissingText(int number, int count) {
  return QStringLiteral("Прибор на связи, но не прислал файл %1 из %2 !!!")
      .arg(number, 3, 10, QLatin1Char('0'))
      .arg(count);
}

void InstrumentFileReader::ProcessEvents() {
  if (hooks_.processEvents)
    hooks_.processEvents();
  else
    QCoreApplication::processEvents();
}

void InstrumentFileReader::SetBusy(bool busy) {
  busy_ = busy;
  Q_EMIT stateChanged();
}

void InstrumentFileReader::SetLabel(FileSide side, const QString& text) {
  label_[Index(side)] = text;
  Q_EMIT stateChanged();
}

void InstrumentFileReader::SetGauge(FileSide side, GaugeState gauge) {
  gauge_[Index(side)] = gauge;
  Q_EMIT stateChanged();
}

void InstrumentFileReader::Read(FileSide side) {
  if (busy_) return;
  const auto show = [this](MessageKind kind, const QString& text) {
    if (hooks_.showMessage) hooks_.showMessage(kind, text);
  };
  if (link_.Instruments().isEmpty()) {
    show(MessageKind::kInformation, NoInstrumentText());
    return;
  }

  readingAllowed_.store(true);
  SetBusy(true);
  for (FileSide s : {FileSide::kMeasure, FileSide::kBscan}) {
    GaugeState g = gauge_[Index(s)];
    g.position = 0;
    SetGauge(s, g);
  }
  SetLabel(side, QStringLiteral("Найдено 0 файлов"));

  switch (ReadAll(side)) {
    case Exit::kDone:
      break;
    case Exit::kLinkFailure:
      ProcessEvents();
      show(MessageKind::kError, LinkFailureText());
      break;
    case Exit::kAbort:
      ProcessEvents();
      show(MessageKind::kInformation, AbortText());
      break;
    case Exit::kFileMissing:
      ProcessEvents();
      show(MessageKind::kError, FileMissingText(file_.number, count_));
      break;
  }

  // The common exit.
  for (FileSide s : {FileSide::kMeasure, FileSide::kBscan}) {
    GaugeState g = gauge_[Index(s)];
    g.position = 0;
    SetGauge(s, g);
  }
  SetBusy(false);
}

InstrumentFileReader::Exit InstrumentFileReader::ReadAll(FileSide side) {
  const std::uint16_t kind = FileKind(side);
  if (!link_.SendCommand(command::kPrepare, 0)) return Exit::kLinkFailure;

  bool listed = false;
  for (int attempt = 0; attempt < kListingTries && !listed; ++attempt) {
    if (!link_.SendCommand(command::kListFiles, kind) || !link_.ReadReply())
      return Exit::kLinkFailure;
    listed = link_.ReplyWord(0) == kListingReplyWord;
    // A count beyond what the instrument can hold makes the reply as unusable as a wrong echo.
    if (listed && link_.ReplyWord(2) > kMaxListedFiles) {
      link_.LogEvent(QStringLiteral("Список файлов не принят: прибор назвал %1 файлов, "
                                    "а хранит не больше %2")
                         .arg(link_.ReplyWord(2))
                         .arg(kMaxListedFiles));
      listed = false;
    }
  }
  if (!listed) {
    if (hooks_.showMessage) hooks_.showMessage(MessageKind::kError, ListingErrorText(side));
    return Exit::kDone;
  }

  const int count = count_ = link_.ReplyWord(2);
  if (count == 0) {
    if (hooks_.showMessage) hooks_.showMessage(MessageKind::kError, NoFilesText(side));
    return Exit::kDone;
  }

  if (hooks_.clearList) hooks_.clearList(side);
  SetLabel(side, CountText(side, count));
  SetGauge(side, GaugeState{0, count - 1, 0});

  for (int k = 0; k < count; ++k) {
    GaugeState g = gauge_[Index(side)];
    g.position = k;
    SetGauge(side, g);
    if (const Exit exit = ReadOneFile(side, k); exit != Exit::kDone) return exit;
    ProcessEvents();
    if (!readingAllowed_.load()) return Exit::kAbort;
  }
  return Exit::kDone;
}

InstrumentFileReader::Exit InstrumentFileReader::ReadOneFile(FileSide side, int index) {
  const std::uint16_t kind = FileKind(side);
  if (!link_.SendCommand(command::kPrepare, 0) ||
      !link_.SendCommand(command::kReadFile, std::uint16_t(index)))
    return Exit::kLinkFailure;
  if (!readingAllowed_.load()) return Exit::kAbort;
  ProcessEvents();

  // Each file starts from an empty buffer, so a missing packet cannot carry over bytes of the
  // previous file; the packets received are counted to tell a whole file from a partial one.
  file_ = InstrumentFile{};
  file_.side = side;
  file_.number = index + 1;
  std::bitset<kLastFilePacket + 1> received;
  for (int pass = 0; pass < kMaxRepliesPerFile; ++pass) {
    if (!link_.ReadReply()) {
      const Exit exit = ReplyFailure();
      // The replies stopped part-way with the link up: the file ends here and is appended with
      // what came, marked for what it lacks; only a file of which nothing came is missing.
      if (exit == Exit::kFileMissing && pass > 0) break;
      return exit;
    }
    const Packet reply = link_.LastReply();
    if (link_.ReplyMatches(kFilePacketWord, kind, std::uint16_t(index)) &&
        StoreFilePacket(reply, file_.bytes))
      received.set(ReplyWord(reply, 3));
    // Packet 127 ends the file whether or not it belongs to it.
    if (link_.ReplyWord(3) == kLastFilePacket) break;
    if (!readingAllowed_.load()) return Exit::kAbort;
    ProcessEvents();
  }
  file_.packetsStored = int(received.count());
  if (!file_.Complete()) {
    link_.LogEvent(QStringLiteral("Файл %1 прочитан не полностью: получено %2 из 128 пакетов")
                       .arg(file_.number, 3, 10, QLatin1Char('0'))
                       .arg(file_.packetsStored));
  }
  if (hooks_.appendFile) hooks_.appendFile(file_);
  return Exit::kDone;
}

InstrumentFileReader::Exit InstrumentFileReader::ReplyFailure() {
  // No reply within the wait: either the link is down or the instrument did not send the file
  // it was asked for (a listing that named more files than it holds). A command tells which.
  return link_.SendCommand(command::kPrepare, 0) ? Exit::kFileMissing : Exit::kLinkFailure;
}

}  // namespace kd735
