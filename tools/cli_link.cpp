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

}  // namespace

void DefineList(QCommandLineParser&) {}

int List(const QCommandLineParser& parser, const GlobalOptions& options) {
  if (!parser.positionalArguments().isEmpty())
    return UsageError(QStringLiteral("no arguments are taken"));
  Session s;
  if (!s.Open(options) || !s.RequireInstrument()) return kExitFailure;
  for (const QString& location : s.link->Instruments()) PrintLine(VisibleText(location));
  return 0;
}

void DefineDump(QCommandLineParser& parser) {
  parser.addPositionalArgument(
      QStringLiteral("INDEX"),
      QStringLiteral(
          "The instrument's place in the list, from 0 (write a negative one after --)."));
}

int Dump(const QCommandLineParser& parser, const GlobalOptions& options) {
  const QStringList args = parser.positionalArguments();
  if (args.size() != 1) return UsageError(QStringLiteral("give one INDEX"));
  bool ok = false;
  const int index = args[0].toInt(&ok);
  if (!ok)
    return UsageError(QStringLiteral("INDEX must be a whole number (got '%1')").arg(args[0]));
  Session s;
  if (!s.Open(options)) return kExitFailure;
  QStringList lines;
  DumpDeviceProperties(s.link->Devices(), index, lines);
  // A refused index gives the one line that says so: a message, not a listing.
  if (lines.size() <= 1) return Fail(lines.value(0));
  for (const QString& line : lines) PrintLine(VisibleText(line));
  return 0;
}

namespace {

const QMap<QString, PanelCommand>& Keys() {
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
  return kKeys;
}

}  // namespace

void DefineKey(QCommandLineParser& parser) {
  parser.addPositionalArgument(
      QStringLiteral("KEY"),
      QStringLiteral("escape, enter, up, down, left or right presses that key; restart restarts "
                     "the instrument; lock and unlock lock and unlock its keyboard."));
}

int Key(const QCommandLineParser& parser, const GlobalOptions& options) {
  const QStringList args = parser.positionalArguments();
  if (args.size() != 1) return UsageError(QStringLiteral("give one KEY"));
  if (!Keys().contains(args[0]))
    return UsageError(QStringLiteral("unknown KEY '%1' (%2)")
                          .arg(args[0], Keys().keys().join(QStringLiteral(", "))));
  Session s;
  if (!s.Open(options) || !s.RequireInstrument()) return kExitFailure;
  const PanelCommand& key = Keys()[args[0]];
  if (!s.link->SendCommand(key.command, key.data)) return Fail(QStringLiteral("send failed"));
  return 0;
}

void DefineMessage(QCommandLineParser& parser) {
  parser.addOption({QStringLiteral("time"),
                    QStringLiteral("How long the message shows, in seconds (%1 to %2, default %3).")
                        .arg(kScreenMessageMinSeconds)
                        .arg(kScreenMessageMaxSeconds)
                        .arg(kScreenMessageDefaultSeconds),
                    QStringLiteral("S")});
  parser.addPositionalArgument(QStringLiteral("TEXT"),
                               QStringLiteral("At most %1 characters (one argument: quote it).")
                                   .arg(kScreenMessageMaxChars));
}

int Message(const QCommandLineParser& parser, const GlobalOptions& options) {
  const QStringList positional = parser.positionalArguments();
  if (positional.size() != 1) return UsageError(QStringLiteral("give one TEXT"));
  int seconds = kScreenMessageDefaultSeconds;
  QString error;
  if (parser.isSet(QStringLiteral("time")) &&
      !ReadIntegerOption(QStringLiteral("--time"), parser.value(QStringLiteral("time")),
                         kScreenMessageMinSeconds, kScreenMessageMaxSeconds, &seconds, &error))
    return UsageError(error);
  if (positional[0].size() > kScreenMessageMaxChars)
    return UsageError(QStringLiteral("TEXT has at most %1 characters").arg(kScreenMessageMaxChars));
  Session s;
  if (!s.Open(options) || !s.RequireInstrument()) return kExitFailure;
  if (!SendScreenMessage(*s.link, seconds, positional[0]))
    return Fail(QStringLiteral("send failed"));
  return 0;
}

void DefineScreen(QCommandLineParser& parser) {
  parser.addOption({QStringLiteral("scale"),
                    QStringLiteral("1 (134 x 70 pixels, the default) or 2 (264 x 136)."),
                    QStringLiteral("1|2")});
  parser.addOption({QStringLiteral("invert"),
                    QStringLiteral("Draw in the inverted colours, margins included.")});
  parser.addPositionalArgument(
      QStringLiteral("OUT"),
      QStringLiteral("The picture file to write: .png or .bmp by its ending."));
}

int Screen(const QCommandLineParser& parser, const GlobalOptions& options) {
  const QStringList positional = parser.positionalArguments();
  if (positional.size() != 1) return UsageError(QStringLiteral("give one OUT"));
  int scale = 1;
  QString error;
  if (parser.isSet(QStringLiteral("scale")) &&
      !ReadIntegerOption(QStringLiteral("--scale"), parser.value(QStringLiteral("scale")), 1, 2,
                         &scale, &error))
    return UsageError(error);
  const QString out = positional[0];
  if (!PictureFormat(out, &error)) return UsageError(error);
  // Refused before the instrument is asked: a pipe there would otherwise wait for a reader.
  if (const FileWriteResult target = CheckWriteTarget(out); !target)
    return Fail(QStringLiteral("screen: ") + target.message());

  ScreenSurface surface(scale);
  if (!surface.Initialize()) return Fail(QStringLiteral("screen: the drawing surface failed"));
  // As "Инверсия цветов" does: the whole surface, margins included, starts in the scheme's fill.
  surface.SetInverted(parser.isSet(QStringLiteral("invert")));
  surface.FillClear();
  // The reader's first hand-off (zeros) presents once, the first real column 0 starts a pass,
  // and the next present ends the first whole pass.
  QImage picture;
  QEventLoop loop;
  const std::uint64_t presentsBefore = surface.PresentCount();
  surface.SetPresentHandler([&](const QImage& backBuffer) {
    if (surface.PresentCount() >= presentsBefore + 3 && picture.isNull()) {
      picture = backBuffer.copy();
      loop.quit();
    }
  });
  Session s;
  if (!s.Open(options, [&](const Packet& packet) { surface.DrawScreenPacket(packet); }) ||
      !s.RequireInstrument())
    return 1;
  QTimer::singleShot(10000, &loop, &QEventLoop::quit);
  if (picture.isNull()) loop.exec();
  s.link->Shutdown();
  surface.Finalize();
  if (picture.isNull()) return Fail(QStringLiteral("screen: no whole screen within 10 s"));
  if (!SaveImageFile(picture, out, {}, &error)) return Fail(QStringLiteral("screen: ") + error);
  return 0;
}

void DefineRead(QCommandLineParser& parser) {
  parser.addOption({QStringLiteral("out"),
                    QStringLiteral("The folder the files are saved in (made when missing), each "
                                   "under its list entry's name."),
                    QStringLiteral("DIR")});
  parser.addPositionalArgument(
      QStringLiteral("KIND"),
      QStringLiteral("measure (the measurement files) or bscan (the B-scan files)."),
      QStringLiteral("measure|bscan"));
}

int Read(const QCommandLineParser& parser, const GlobalOptions& options) {
  const QStringList positional = parser.positionalArguments();
  const bool measure = positional.value(0) == QLatin1String("measure");
  if (positional.size() != 1 || (!measure && positional[0] != QLatin1String("bscan")))
    return UsageError(QStringLiteral("give measure or bscan"));
  if (!parser.isSet(QStringLiteral("out")))
    return UsageError(QStringLiteral("--out DIR is needed"));
  const QDir out(parser.value(QStringLiteral("out")));
  if (!out.mkpath(QStringLiteral("."))) {
    const QFileInfo info(out.path());
    return Fail(QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(out.path()),
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
    if (!error.isEmpty()) failures += Fail(error);
  };
  InstrumentFileReader reader(*s.link, hooks);
  reader.Read(measure ? FileSide::kMeasure : FileSide::kBscan);
  return failures ? 1 : 0;
}

}  // namespace kd735::cli
