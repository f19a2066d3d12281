#include "apps/common/program_runner.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTextStream>
#include <QTranslator>

#include "apps/common/form_kit.h"
#include "files/runtime_folder.h"
#include "files/user_locale.h"
#include "sim/simulated_bus.h"

namespace kd735 {

QTranslator* UseUserLanguage(QCoreApplication& app) {
  const QLocale user = UserLocale();
  QLocale::setDefault(user);
  auto* qtTexts = new QTranslator(&app);
  if (!qtTexts->load(user, QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete qtTexts;  // no translation for this language: Qt's texts stay English
    return nullptr;
  }
  app.installTranslator(qtTexts);
  return qtTexts;
}

int RunProgram(int argc, char** argv, const ProgramInfo& info, const ProgramFactory& make) {
  if (const int code = HandleInformationalArguments(argc, argv, info); code >= 0) return code;

  // Outside a desktop session the lock and Qt need a private runtime folder.
  EnsurePrivateRuntimeFolder();
  QApplication app(argc, argv);
  UseUserLanguage(app);
  ProgramArguments arguments;
  QString error;
  if (!ParseProgramArguments(QCoreApplication::arguments(), &arguments, &error)) {
    QTextStream(stderr) << info.executable << ": " << error << "\n\n" << UsageText(info);
    return 2;
  }

  // Only one program of the family at a time; the other one is left undisturbed.
  InstanceGuard guard;
  if (!guard.Acquire()) {
    ShowMessageBox(nullptr, BoxKind::kInformation, AlreadyRunningText());
    return 0;
  }

  QGuiApplication::setDesktopFileName(info.desktopFileName);

  sim::SimulatedBus* simulated = nullptr;
  std::unique_ptr<UsbBus> bus = OpenProgramBus(arguments.simulate, &simulated, &error);
  // Without libusb the windows still come up and report that no instrument is connected.
  if (!error.isEmpty()) QTextStream(stderr) << info.executable << ": " << error << '\n';

  std::unique_ptr<ProgramWindows> program = make(*bus, simulated);
  InstallTerminationHandler([&program] { program->MainWindow().close(); });
  const int code = app.exec();
  program.reset();  // windows (and the link) go before the bus
  return code;
}

}  // namespace kd735
