#include "link/link_controller.h"

#include <QLocale>
#include <QMetaObject>

#include "link/command_protocol.h"

namespace kd735 {

LinkController::LinkController(UsbBus& bus, FrameHandler frameHandler, QObject* parent)
    : QObject(parent), bus_(bus), frameHandler_(std::move(frameHandler)) {
  // What the main window's status bar shows before the link first writes it.
  status_ = {QStringLiteral("Нет связи с КД734 ??"), QStringLiteral("Поток данных"),
             QStringLiteral("Пакет 64 байт")};
  timer_.setInterval(1000);
  connect(&timer_, &QTimer::timeout, this, &LinkController::TimerTimer);
}

LinkController::~LinkController() { Shutdown(); }

void LinkController::Start() {
  log_.clear();
  Q_EMIT logCleared();
  logCounter_ = 0;
  LogEvent(QStringLiteral(" "));
  // The bus may report from any thread; the reaction runs here, on the UI thread.
  bus_.SetDeviceChangeCallback([this] {
    QMetaObject::invokeMethod(
        this, [this] { HandleDeviceChange(7); }, Qt::QueuedConnection);
  });
  HandleDeviceChange(7);
}

void LinkController::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  bus_.SetDeviceChangeCallback({});
  timer_.stop();
  if (const std::shared_ptr<TUSB_Thread> reader = reader_) {
    reader->StopAndWait();
    reader->CancelStream();
    reader_.reset();
  }
  commandChannel_.reset();
}

void LinkController::AddUnnumberedLine(const QString& line) {
  log_ << line;
  Q_EMIT lineAdded(line);
}

void LinkController::LogEvent(const QString& text) {
  if (logCounter_ > kLogLimit) {
    log_.clear();
    Q_EMIT logCleared();
    logCounter_ = 0;
    AddUnnumberedLine(QStringLiteral(" Очистка сообщений"));
  }
  ++logCounter_;
  AddUnnumberedLine(QStringLiteral("%1").arg(logCounter_, 3, 10, QLatin1Char('0')) +
                    QStringLiteral("  ") + text);
}

void LinkController::ClearLog() {
  log_.clear();
  Q_EMIT logCleared();
}

void LinkController::ShowProperties(bool withSoftwareIdentification) {
  if (withSoftwareIdentification && selected_ >= 0) {
    AddUnnumberedLine(QStringLiteral(" Идентификационные данные ПО "));
    AddUnnumberedLine(QStringLiteral(" Версия ПО  V01.10"));
    // The 'С' after 0x6 is Cyrillic, the 'C' after it Latin: the identifier as registered.
    AddUnnumberedLine(QStringLiteral(" Цифровой идентификатор 0x6СC5A3F4"));
  }
  QStringList lines;
  DumpDeviceProperties(devices_, selected_, lines);
  for (const QString& line : lines) AddUnnumberedLine(line);
}

void LinkController::SelectInstrument(int index) {
  if (index < -1 || index >= instruments_.size()) return;
  selected_ = index;
  Q_EMIT instrumentsChanged();
}

void LinkController::SetStatus(StatusPanel panel, const QString& text) {
  status_[panel] = text;
  Q_EMIT statusTextChanged(panel, text);
}

void LinkController::HandleDeviceChange(std::uint32_t code) {
  if (shutDown_) return;
  if (code != 7) {
    AddUnnumberedLine(QStringLiteral("другое событие ") +
                      QStringLiteral("%1").arg(code, 8, 16, QLatin1Char('0')).toUpper() +
                      QLatin1Char('h'));
    return;
  }
  // The stop below runs the frame handler for the reader's last hand-offs; nothing that handler
  // lets run may start a second reconnection inside this one.
  if (inDeviceChange_) {
    deviceChangePending_ = true;
    return;
  }
  inDeviceChange_ = true;
  do {
    deviceChangePending_ = false;
    LogEvent(QStringLiteral("USB событие DBT_DEVNODES_CHANGED"));
    // A suspended reader must run again before the stop can wait for it to end.
    ResumeStream();
    StopStream();
    if (shutDown_) break;  // shut down from inside the stop

    devices_ = EnumerateInstruments(bus_);
    instruments_.clear();
    selected_ = -1;
    for (const TUSBPnPInfo& device : devices_) {
      LogEvent(QStringLiteral("String=  ") + device.LocationInfo);
      instruments_ << device.LocationInfo;
    }
    if (!instruments_.isEmpty()) {
      selected_ = 0;
      linkDevicePath_ = devices_.front().DevPath;
    }
    Q_EMIT instrumentsChanged();
    LogEvent(QString());
    LogEvent(QStringLiteral("Подключено ") + QString::number(instruments_.size()) +
             QStringLiteral(" толщиномеров"));
    LogEvent(QString());

    if (!instruments_.isEmpty()) {
      StartStream(linkDevicePath_);
      OpenCommandChannel(linkDevicePath_);
      SendCommand(command::kConnect, 0);
      SetStatus(kLinkPanel, instruments_[selected_]);
    } else {
      SetStatus(kLinkPanel, QStringLiteral("Нет связи c КД735!!!"));
    }
  } while (deviceChangePending_ && !shutDown_);
  inDeviceChange_ = false;
}

void LinkController::StartStream(const QString& devPath) {
  if (reader_) StopStream();
  if (shutDown_) return;
  if (selected_ < 0) {
    LogEvent(QStringLiteral("Нет подключенных приборов, нет потока данных USB!"));
    timer_.stop();
    return;
  }
  // The stopped reader is released here, after the timer has read it for the last time.
  reader_ = std::make_shared<TUSB_Thread>(this, [this](const Packet& packet) {
    if (frameHandler_) frameHandler_(packet);
  });
  if (reader_->OpenStream(bus_, devPath)) {
    reader_->SetWaitTimeout(kStreamWaitMs);
    reader_->Resume();
    SetStatus(kLinkPanel, QStringLiteral("КД735 подключен!!!"));
    LogEvent(QStringLiteral("Старт потока данных USB!"));
    timer_.start();
  } else {
    LogEvent(QStringLiteral("Неправильный Handle!"));
    ReportOpenRefusal();
    timer_.stop();
  }
}

void LinkController::ReportOpenRefusal() {
  const OpenError error = bus_.LastOpenError();
  if (error == OpenError::kBusy) {
    // Only one process can claim the instrument's interface: another user's program has it.
    LogEvent(QStringLiteral(
        "Прибор занят другой программой: интерфейс USB уже захвачен другим процессом "
        "(возможно, программой другого пользователя). Закройте её и переподключите прибор"));
    return;
  }
  if (error != OpenError::kAccessDenied) return;
  LogEvent(QStringLiteral(
      "Нет доступа к прибору: установите правила udev link/60-kd735.rules командой "
      "sudo cp link/60-kd735.rules /etc/udev/rules.d/ && sudo udevadm control --reload && "
      "sudo udevadm trigger, затем переподключите прибор"));
}

void LinkController::StopStream() {
  if (!reader_) {
    LogEvent(QStringLiteral("Не было потока данных!"));
    return;
  }
  // Held while waiting, so that nothing run from inside the stop can free the reader under it.
  const std::shared_ptr<TUSB_Thread> reader = reader_;
  reader->StopAndWait();
  if (shutDown_) return;
  if (reader->CancelStream())
    LogEvent(QStringLiteral("Поток данных USB разрушен!"));
  else
    LogEvent(QStringLiteral("Не могу закрыть !"));
  SetStatus(kLinkPanel, QStringLiteral("нет связи c КД735!!!"));
}

void LinkController::SuspendStream() {
  if (!reader_) return;
  if (reader_->IsSuspended()) {
    LogEvent(QStringLiteral("Поток USB УЖЕ остановлен!"));
  } else {
    reader_->Suspend();
    LogEvent(QStringLiteral("Поток данных USB остановлен!"));
  }
}

void LinkController::ResumeStream() {
  if (!reader_) return;
  if (reader_->IsSuspended()) {
    reader_->Resume();
    LogEvent(QStringLiteral("Продолжение работы потока данных USB!"));
  } else {
    LogEvent(QStringLiteral("Поток USB УЖЕ работает!"));
  }
}

bool LinkController::OpenCommandChannel(const QString& devPath) {
  commandChannel_.reset();  // the old handle goes before the new one is opened
  commandChannel_ = bus_.OpenCommandChannel(devPath);
  return commandChannel_ != nullptr;
}

bool LinkController::TransferCommandPacket(const Packet& data, std::uint32_t& bytesReturned) {
  TransferRecord record = MakeTransferRecord(kCommandEndpoint, data);
  bytesReturned = 0;
  return commandChannel_ && commandChannel_->Transfer(record, kCommandWaitMs, bytesReturned);
}

bool LinkController::SendCommand(std::uint16_t command, std::uint16_t data) {
  std::uint32_t bytes = 0;
  const bool ok = TransferCommandPacket(BuildCommandPacket(command, data), bytes);
  LogEvent(CommandLogLine(command, data, ok));
  return ok;
}

bool LinkController::ReadReply() {
  // Zeroed first, so a read that delivers nothing leaves every reply word 0.
  replyBuffer_ = MakeTransferRecord(kReplyEndpoint);
  std::uint32_t bytes = 0;
  if (!commandChannel_ || !commandChannel_->Transfer(replyBuffer_, kReplyWaitMs, bytes))
    return false;
  // A transfer shorter than a packet is no reply: its missing bytes would read as zeros the
  // instrument never sent. It delivers nothing, like a read that timed out.
  if (bytes != std::uint32_t(kPacketSize)) replyBuffer_ = MakeTransferRecord(kReplyEndpoint);
  return true;
}

std::uint16_t LinkController::ReplyWord(int n) const {
  return kd735::ReplyWord(replyBuffer_.DataPacket(), n);
}

bool LinkController::ReplyMatches(std::uint16_t w0, std::uint16_t w1, std::uint16_t w2) const {
  return kd735::ReplyMatches(replyBuffer_.DataPacket(), w0, w1, w2);
}

QString LinkController::ByteRateText(std::int64_t bytes) {
  const QString sign = bytes < 0 ? QStringLiteral("-") : QString();
  const QString digits =
      QStringLiteral("%1").arg(bytes < 0 ? -bytes : bytes, 6, 10, QLatin1Char('0'));
  return QLatin1Char(' ') + sign + digits.left(digits.size() - 3) + QLatin1Char(' ') +
         digits.right(3) + QStringLiteral(" байт/c");
}

QString LinkController::FrameRateText(std::int64_t bytes) {
  // bytes / 64 / 20 with one decimal, rounded half up: tenths = bytes / 128.
  const std::int64_t magnitude = bytes < 0 ? -bytes : bytes;
  const std::int64_t tenths = (magnitude + 64) / 128;
  return QStringLiteral("  ") + (bytes < 0 ? QStringLiteral("-") : QString()) +
         QStringLiteral("%1").arg(tenths / 10, 2, 10, QLatin1Char('0')) + QLocale().decimalPoint() +
         QString::number(tenths % 10) + QStringLiteral(" кадр/c");
}

void LinkController::TimerTimer() {
  const std::int64_t bytes = reader_ ? reader_->TakeReceivedBytes() : 0;
  SetStatus(kByteRatePanel, ByteRateText(bytes));
  SetStatus(kFrameRatePanel, FrameRateText(bytes));
}

}  // namespace kd735
