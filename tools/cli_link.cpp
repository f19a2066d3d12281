#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QImage>
#include <QMap>
#include <QSet>
#include <QTextStream>
#include <QTimer>
#include <memory>

#include "files/atomic_file.h"
#include "files/instrument_entry.h"
#include "files/local_file.h"
#include "link/file_reading.h"
#include "link/libusb_bus.h"
#include "link/link_controller.h"
#include "panel/panel_commands.h"
#include "panel/screen_message.h"
#include "panel/screen_message_sender.h"
#include "panel/screen_surface.h"
#include "sim/simulated_bus.h"
#include "tools/verbs.h"

namespace kd735::cli {

namespace {

// The bus the verbs talk to: the simulated instrument (with a little latency, a live clock and
// its stored files) or the USB bus.
std::unique_ptr<UsbBus> OpenBus(const GlobalOptions& options) {
  if (options.simulate) {
    sim::SimulatedBus::Options o;
    o.latencyMs = 1;
    o.realClock = true;
    auto bus = std::make_unique<sim::SimulatedBus>(o);
    bus->AttachInstrument();
    return bus;
  }
  auto bus = std::make_unique<LibusbBus>();
  if (!bus->IsReady()) {
    Fail(QStringLiteral("libusb could not be initialised"));
    return nullptr;
  }
  return bus;
}

// A started link on the bus; with --log every log line goes to stderr as it is added.
struct Session {
  std::unique_ptr<UsbBus> bus;
  std::unique_ptr<LinkController> link;

  bool Open(const GlobalOptions& options, LinkController::FrameHandler frames = nullptr) {
    bus = OpenBus(options);
    if (!bus) return false;
    link = std::make_unique<LinkController>(*bus, std::move(frames));
    if (options.log) {
      QObject::connect(link.get(), &LinkController::lineAdded, [](const QString& line) {
        QTextStream err(stderr);
        err << VisibleText(line) << Qt::endl;  // device strings come from the device
      });
    }
    link->Start();
    return true;
  }
  bool RequireInstrument() const {
    if (!link->Instruments().isEmpty()) return true;
    Fail(QStringLiteral("no KD735 connected"));
    return false;
  }
  ~Session() {
    if (link) link->Shutdown();
  }
};

// Splits arguments into positional ones and the values of the named options.
bool SplitArgs(const QString& verb, const QStringList& args, const QStringList& flagOptions,
               const QStringList& valueOptions, QStringList& positional,
               QMap<QString, QString>& values) {
  for (qsizetype i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    if (flagOptions.contains(a)) {
      values[a] = QStringLiteral("1");
    } else if (valueOptions.contains(a)) {
      if (i + 1 >= args.size()) {
        Fail(QStringLiteral("%1: option %2 needs a value").arg(verb, a));
        return false;
      }
      values[a] = args[++i];
    } else if (a.startsWith(QLatin1String("--"))) {
      Fail(QStringLiteral("%1: unknown option '%2'").arg(verb, a));
      return false;
    } else {
      positional << a;
    }
  }
  return true;
}

}  // namespace

int List(const QStringList& args, const GlobalOptions& options) {
  if (!args.isEmpty()) return Fail(QStringLiteral("usage: kd735 list"));
  Session s;
  if (!s.Open(options)) return 1;
  for (const QString& location : s.link->Instruments()) PrintLine(VisibleText(location));
  return 0;
}

int Dump(const QStringList& args, const GlobalOptions& options) {
  if (args.size() != 1) return Fail(QStringLiteral("usage: kd735 dump INDEX"));
  bool ok = false;
  const int index = args[0].toInt(&ok);
  if (!ok)
    return Fail(QStringLiteral("dump: INDEX must be a whole number (got '%1')").arg(args[0]));
  Session s;
  if (!s.Open(options)) return 1;
  QStringList lines;
  DumpDeviceProperties(s.link->Devices(), index, lines);
  // A refused index gives the one line that says so: a message, not a listing.
  if (lines.size() <= 1) return Fail(lines.value(0));
  for (const QString& line : lines) PrintLine(VisibleText(line));
  return 0;
}

int Key(const QStringList& args, const GlobalOptions& options) {
  static const QMap<QString, PanelCommand> kKeys = {
      {QStringLiteral("escape"), PanelCommandFor(PanelControl::Escape)},
      {QStringLiteral("enter"), PanelCommandFor(PanelControl::Enter)},
      {QStringLiteral("up"), PanelCommandFor(PanelControl::Up)},
      {QStringLiteral("down"), PanelCommandFor(PanelControl::Down)},
      {QStringLiteral("left"), PanelCommandFor(PanelControl::Left)},
      {QStringLiteral("right"), PanelCommandFor(PanelControl::Right)},
      {QStringLiteral("restart"), PanelCommandFor(PanelControl::Restart)},
      {QStringLiteral("lock"), PanelCommandFor(PanelControl::KeyLock, true)},
      {QStringLiteral("unlock"), PanelCommandFor(PanelControl::KeyLock, false)},
  };
  if (args.size() != 1 || !kKeys.contains(args[0]))
    return Fail(
        QStringLiteral("usage: kd735 key escape|enter|up|down|left|right|restart|lock|unlock"));
  Session s;
  if (!s.Open(options) || !s.RequireInstrument()) return 1;
  const PanelCommand& key = kKeys[args[0]];
  if (!s.link->SendCommand(key.command, key.data)) return Fail(QStringLiteral("key: send failed"));
  return 0;
}

int Message(const QStringList& args, const GlobalOptions& options) {
  QStringList positional;
  QMap<QString, QString> values;
  if (!SplitArgs(QStringLiteral("message"), args, {}, {QStringLiteral("--time")}, positional,
                 values))
    return 1;
  if (positional.size() != 1)
    return Fail(QStringLiteral("usage: kd735 message TEXT [--time S] (S from 1 to 20)"));
  int seconds = kScreenMessageDefaultSeconds;
  QString error;
  if (values.contains(QStringLiteral("--time")) &&
      !ReadIntegerOption(QStringLiteral("--time"), values[QStringLiteral("--time")],
                         kScreenMessageMinSeconds, kScreenMessageMaxSeconds, &seconds, &error))
    return Fail(QStringLiteral("message: ") + error);
  if (positional[0].size() > kScreenMessageMaxChars)
    return Fail(QStringLiteral("message: at most %1 characters").arg(kScreenMessageMaxChars));
  Session s;
  if (!s.Open(options) || !s.RequireInstrument()) return 1;
  if (!SendScreenMessage(*s.link, seconds, positional[0]))
    return Fail(QStringLiteral("message: send failed"));
  return 0;
}

int Screen(const QStringList& args, const GlobalOptions& options) {
  QStringList positional;
  QMap<QString, QString> values;
  if (!SplitArgs(QStringLiteral("screen"), args, {QStringLiteral("--invert")},
                 {QStringLiteral("--scale")}, positional, values))
    return 1;
  if (positional.size() != 1)
    return Fail(QStringLiteral("usage: kd735 screen OUT [--scale 1|2] [--invert]"));
  int scale = 1;
  QString error;
  if (values.contains(QStringLiteral("--scale")) &&
      !ReadIntegerOption(QStringLiteral("--scale"), values[QStringLiteral("--scale")], 1, 2, &scale,
                         &error))
    return Fail(QStringLiteral("screen: ") + error);
  const QString out = positional[0];
  // Refused before the instrument is asked: a pipe there would otherwise wait for a reader.
  if (const FileWriteResult target = CheckWriteTarget(out); !target)
    return Fail(QStringLiteral("screen: ") + target.message());

  ScreenSurface surface(scale);
  if (!surface.Initialize()) return Fail(QStringLiteral("screen: the drawing surface failed"));
  // As "Инверсия цветов" does: the whole surface, margins included, starts in the scheme's fill.
  surface.SetInverted(values.contains(QStringLiteral("--invert")));
  surface.FillClear();
  // The first column 0 that came starts a pass, and the next present ends the first whole pass.
  QImage picture;
  QEventLoop loop;
  const std::uint64_t presentsBefore = surface.PresentCount();
  surface.SetPresentHandler([&](const QImage& backBuffer) {
    if (surface.PresentCount() >= presentsBefore + 2 && picture.isNull()) {
      picture = backBuffer.copy();
      loop.quit();
    }
  });
  Session s;
  // Only packets that came whole since the last hand-off are drawn: the same packet handed over
  // again (a stalled stream, short packets) would make a picture of bytes that never came.
  std::uint64_t drawn = 0;
  const auto draw = [&](const Packet& packet) {
    const TUSB_Thread* reader = s.link->CurrentReader();
    if (!reader || reader->PacketsReceived() == drawn) return;
    drawn = reader->PacketsReceived();
    surface.DrawScreenPacket(packet);
  };
  if (!s.Open(options, draw) || !s.RequireInstrument()) return 1;
  QTimer::singleShot(10000, &loop, &QEventLoop::quit);
  if (picture.isNull()) loop.exec();
  s.link->Shutdown();
  surface.Finalize();
  if (picture.isNull()) return Fail(QStringLiteral("screen: no whole screen within 10 s"));
  if (!SaveImageFile(picture, out, nullptr, {}, &error))
    return Fail(QStringLiteral("screen: ") + error);
  return 0;
}

int Read(const QStringList& args, const GlobalOptions& options) {
  QStringList positional;
  QMap<QString, QString> values;
  if (!SplitArgs(QStringLiteral("read"), args, {}, {QStringLiteral("--out")}, positional, values))
    return 1;
  const bool measure = positional.value(0) == QLatin1String("measure");
  if (positional.size() != 1 || (!measure && positional[0] != QLatin1String("bscan")) ||
      !values.contains(QStringLiteral("--out")))
    return Fail(QStringLiteral("usage: kd735 read measure|bscan --out DIR"));
  const QDir out(values[QStringLiteral("--out")]);
  if (!out.mkpath(QStringLiteral("."))) {
    const QFileInfo info(out.path());
    return Fail(QStringLiteral("read: %1: %2")
                    .arg(QDir::toNativeSeparators(out.path()),
                         info.exists() && !info.isDir()
                             ? QStringLiteral("not a folder")
                             : QStringLiteral("the folder cannot be made")));
  }

  Session s;
  if (!s.Open(options)) return 1;
  const ListKind kind = measure ? ListKind::Measure : ListKind::Bscan;
  int failures = 0;
  QSet<QString> written;  // names taken in this run: two files of one name both stay
  InstrumentFileReader::Hooks hooks;
  hooks.showMessage = [&](MessageKind, const QString& text) { failures += Fail(text); };
  hooks.appendFile = [&](const InstrumentFile& file) {
    const InstrumentFileEntry entry = MakeInstrumentFileEntry(file);
    PrintLine(entry.text);
    if (entry.incomplete) {
      failures += Fail(QStringLiteral("%1: only %2 of 128 packets came; the rest is zero")
                           .arg(entry.text)
                           .arg(file.packetsStored));
    }
    // The name comes from the instrument: it may hold a '/', but never leads out of the folder.
    QString name = SafeFileName(DefaultSaveName(entry.text, kind).trimmed());
    if (written.contains(name)) name = SafeFileName(entry.text.left(3) + QLatin1Char(' ') + name);
    written.insert(name);
    const QString error = SaveLocalFile(entry.content->record, out.filePath(name));
    if (!error.isEmpty()) failures += Fail(QStringLiteral("read: ") + error);
  };
  InstrumentFileReader reader(*s.link, hooks);
  reader.Read(measure ? FileSide::kMeasure : FileSide::kBscan);
  return failures ? 1 : 0;
}

}  // namespace kd735::cli
