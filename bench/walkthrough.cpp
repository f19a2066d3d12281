// The report program's whole job as a person does it, driven through its real controls against
// the simulated instrument at its realistic USB pace: read 20 measurement files and the B-scans,
// look at one of each, make the document, send all files, open the measurements' table with a
// minimum allowed thickness and send its summary, and (with --shots) take pictures of the windows
// and of the finished report's first page, and of the table beside the report's summary. Prints
// the program time of the run.
//
//   kd735_walkthrough [--files N] [--shots FOLDER] [--writer]
// With --writer the report is made in a visible LibreOffice Writer (which must be installed), and
// the picture shows the program beside Writer's window.
// Run under Xvfb with a window manager for pictures with captions (scripts/walkthrough.sh).

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <chrono>
#include <cstdio>

#include "apps/report/report_program.h"
#include "apps/report/table_form.h"
#include "files/bitmap_file.h"
#include "report/docx_engine.h"
#include "report/word_backend.h"
#include "sim/simulated_bus.h"

namespace {

using namespace kd735;
using Clock = std::chrono::steady_clock;

QTextStream& Out() {
  static QTextStream out(stdout);
  return out;
}

void Pump(int ms) {
  const auto until = Clock::now() + std::chrono::milliseconds(ms);
  while (Clock::now() < until) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// Pictures go through the project's one checked, atomic write too.
void SavePicture(const QImage& picture, const QString& path) {
  if (const FileWriteResult written = SaveImageFile(picture, path, "PNG"); !written)
    Out() << "picture not written: " << written.message() << '\n';
}

bool PumpUntil(const std::function<bool()>& done, int ms = 60000) {
  const auto until = Clock::now() + std::chrono::milliseconds(ms);
  while (!done() && Clock::now() < until) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  return done();
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  int files = 20;
  QString shots;
  const QStringList args = app.arguments();
  const bool writer = args.contains(QStringLiteral("--writer"));
  for (qsizetype i = 1; i + 1 < args.size(); ++i) {
    if (args[i] == QLatin1String("--files")) files = args[i + 1].toInt();
    if (args[i] == QLatin1String("--shots")) shots = args[i + 1];
  }

  sim::SimulatedBus::Options o;
  o.latencyMs = 1;  // the instrument's own pace
  o.realClock = true;
  sim::SimulatedBus bus(o);
  const QString path = bus.AttachInstrument(1, QStringLiteral("00123"));
  bus.WithInstrument(path, [files](sim::Instrument& i) {
    auto& store = i.Files(sim::kMeasureKind);
    store.clear();
    for (int k = 0; k < files; ++k) {
      sim::MeasureFileSpec m;
      m.number = std::uint8_t(k + 1);
      m.name = std::string(QStringLiteral("PIPE%1").arg(k + 1, 4, 10, QLatin1Char('0')).toLatin1());
      m.dateTime = "10.12.2026 09:" + std::to_string(10 + k % 50);
      m.thickness = 480 + 7 * k;
      m.state = 2;
      store.push_back(sim::MakeMeasureRecord(m));
    }
  });

  QTemporaryDir work;
  report_app::ReportEnvironment env;
  env.dialogFolder = work.path();
  const QString reports = shots.isEmpty() ? work.filePath(QStringLiteral("reports")) : work.path();
  env.openPath = [](const QString&) { return true; };
  if (!writer) {
    env.engine = [reports](ReportSession::OwnerCall) {
      DocxEngineOptions d;
      d.reportsFolder = reports;
      d.openFile = [](const QString&) { return true; };
      return std::unique_ptr<ReportPort>(std::make_unique<DocxEngine>(d));
    };
  }

  // Any box the run meets is a failure of the run: noted and closed.
  QStringList boxes;
  QTimer watcher;
  QObject::connect(&watcher, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      boxes << box->text();
      box->button(QMessageBox::Ok) ? box->button(QMessageBox::Ok)->click() : box->reject();
    }
  });
  watcher.start(20);

  QElapsedTimer clock;
  clock.start();
  report_app::ReportProgram program(bus, &bus, env);
  report_app::TMainForm& form = program.MainForm();
  if (writer && form.Backend() != WordBackend::kWriter) {
    Out() << "LibreOffice Writer cannot be used here\n";
    return 1;
  }
  auto find = [&form](const char* name) {
    return form.findChild<QAbstractButton*>(QString::fromLatin1(name));
  };
  auto list = [&form](const char* name) {
    return form.findChild<QListView*>(QString::fromLatin1(name));
  };
  auto shoot = [&](const QString& name) {
    if (shots.isEmpty()) return;
    Pump(300);
    QScreen* screen = form.screen();
    const QImage window = screen->grabWindow(0).copy(form.frameGeometry()).toImage();
    SavePicture(window, QDir(shots).filePath(name));
  };
  auto sendAll = [&](const char* listName) {
    QListView* view = list(listName);
    Q_EMIT view->customContextMenuRequested(QPoint(4, 4));
    form.findChild<QMenu*>(QStringLiteral("ListPopupMenu"))->close();
    form.findChild<QAction*>(QStringLiteral("MSWord1"))->trigger();
    PumpUntil([&] { return form.PendingReportActions() == 0; });
  };

  PumpUntil([&] { return form.Surface().PresentCount() > 3; });
  auto* pages = form.findChild<QTabWidget*>(QStringLiteral("PageControl"));
  pages->setCurrentIndex(1);
  find("ReadMesuareFilesBitBtn")->click();
  find("ReadBscanBitBtn")->click();
  const qint64 readMs = clock.elapsed();
  list("MesuareListBox")->setCurrentIndex(list("MesuareListBox")->model()->index(0, 0));
  list("BScanListBox")->setCurrentIndex(list("BScanListBox")->model()->index(0, 0));
  list("MesuareListBox")->setCurrentIndex(list("MesuareListBox")->model()->index(2, 0));
  const qint64 shotStart = clock.elapsed();
  shoot(QStringLiteral("kd735_report_files.png"));
  qint64 shotMs = clock.elapsed() - shotStart;

  pages->setCurrentIndex(0);
  find("CreateWordDocBitBtn")->click();
  PumpUntil([&] { return form.PendingReportActions() == 0; });
  pages->setCurrentIndex(1);
  sendAll("MesuareListBox");
  sendAll("BScanListBox");
  // The measurements' table: the readings under 5 mm marked, its summary after the last table.
  Q_EMIT list("MesuareListBox")->customContextMenuRequested(QPoint(4, 4));
  form.findChild<QMenu*>(QStringLiteral("ListPopupMenu"))->close();
  form.findChild<QAction*>(QStringLiteral("SurveyTableItem"))->trigger();
  report_app::TTableForm* table = form.TableForm(ListKind::Measure);
  table->findChild<QLineEdit*>(QStringLiteral("MinimumThicknessEdit"))
      ->setText(QStringLiteral("5"));
  table->findChild<QAbstractButton*>(QStringLiteral("SendSummaryButton"))->click();
  PumpUntil([&] { return form.PendingReportActions() == 0; });
  const qint64 s1 = clock.elapsed();
  QImage tableShot;
  if (!shots.isEmpty()) {
    Pump(500);
    tableShot = table->screen()->grabWindow(0).copy(table->frameGeometry()).toImage();
  }
  table->close();
  shotMs += clock.elapsed() - s1;
  pages->setCurrentIndex(0);
  const qint64 s2 = clock.elapsed();
  if (writer) {
    // The program on the left, Writer with the report on the right, as a user would arrange them.
    form.move(0, 0);
    Pump(500);
    const QString placed = QStringLiteral(
        "xdotool search --onlyvisible --name 'LibreOffice Writer' | tail -1 | "
        "xargs -I{} xdotool windowmove {} 800 0 windowsize {} 800 880");
    QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), placed});
    Pump(2500);
    if (!shots.isEmpty())
      SavePicture(form.screen()->grabWindow(0).toImage(),
                  QDir(shots).filePath(QStringLiteral("kd735_report_writer.png")));
  } else {
    shoot(QStringLiteral("kd735_report_settings.png"));
  }
  shotMs += clock.elapsed() - s2;
  const qint64 totalMs = clock.elapsed() - shotMs;
  const QString report = form.ReportPath();
  form.close();

  Out() << "files read: " << files << " measurement + "
        << program.MainForm().List(ListKind::Bscan).Count() << " B-scan in " << readMs << " ms\n";
  Out() << "walk-through program time: " << totalMs << " ms (screenshots excluded)\n";
  Out() << "report: " << report << '\n';
  for (const QString& b : boxes) Out() << "unexpected box: " << b << '\n';

  // The finished report as LibreOffice shows it.
  if (!shots.isEmpty() && !report.isEmpty()) {
    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (!soffice.isEmpty()) {
      QProcess::execute(soffice,
                        {QStringLiteral("--headless"), QStringLiteral("--norestore"),
                         QStringLiteral("-env:UserInstallation=file://") + work.filePath("lo"),
                         QStringLiteral("--convert-to"), QStringLiteral("pdf"),
                         QStringLiteral("--outdir"), work.path(), report});
      const QString pdf = work.filePath(QFileInfo(report).completeBaseName() + ".pdf");
      QProcess::execute(QStringLiteral("pdftoppm"),
                        {QStringLiteral("-png"), QStringLiteral("-r"), QStringLiteral("60"),
                         QStringLiteral("-f"), QStringLiteral("1"), QStringLiteral("-l"),
                         QStringLiteral("1"), QStringLiteral("-singlefile"), pdf,
                         QDir(shots).filePath(QStringLiteral("kd735_report_document"))});
      QProcess pdftotext;
      pdftotext.start(QStringLiteral("pdftotext"),
                      {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
      pdftotext.waitForFinished();
      const QString text = QString::fromUtf8(pdftotext.readAllStandardOutput());
      Out() << "report PDF shows 0001: " << text.contains("0001")
            << ", KD735 N 00123: " << text.contains("KD735 N 00123")
            << ", PIPE0020: " << text.contains("PIPE0020")
            << ", Сводка измерений: " << text.contains(QStringLiteral("Сводка измерений")) << '\n';
      // The table window beside the report's page with its summary (the last page).
      const QString pdfInfo = QString::fromUtf8([&] {
        QProcess info;
        info.start(QStringLiteral("pdfinfo"), {pdf});
        info.waitForFinished();
        return info.readAllStandardOutput();
      }());
      const QString last =
          pdfInfo.section(QStringLiteral("Pages:"), 1).trimmed().section(QLatin1Char('\n'), 0, 0);
      const QString page = work.filePath(QStringLiteral("summary_page"));
      QProcess::execute(
          QStringLiteral("pdftoppm"),
          {QStringLiteral("-png"), QStringLiteral("-r"), QStringLiteral("72"), QStringLiteral("-f"),
           last, QStringLiteral("-l"), last, QStringLiteral("-singlefile"), pdf, page});
      QImage summary(page + QStringLiteral(".png"));
      if (!tableShot.isNull() && !summary.isNull()) {
        QImage both(tableShot.width() + 16 + summary.width(),
                    std::max(tableShot.height(), summary.height()), QImage::Format_RGB32);
        both.fill(QColor(64, 64, 64));
        QPainter painter(&both);
        painter.drawImage(0, 0, tableShot);
        painter.drawImage(tableShot.width() + 16, 0, summary);
        painter.end();
        SavePicture(both, QDir(shots).filePath(QStringLiteral("kd735_report_table.png")));
      }
    }
  }
  Out().flush();
  return boxes.isEmpty() && (writer || !report.isEmpty()) ? 0 : 1;
}
