#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

#include "report/report_port.h"
#include "report/writer_protocol.h"

namespace kd735 {

struct WriterEngineOptions {
  // LibreOffice's program; empty: "soffice" on the PATH.
  QString soffice;
  // The helper program kd735_writer; empty: WriterEngine::FindHelper().
  QString helper;
  // Empty: the user's own LibreOffice. A LibreOffice the user runs is attached to, one started
  // here stays when the program ends, as Word does. Otherwise the folder of a private profile:
  // a LibreOffice of its own, which never outlives the engine (nor the program, when it is
  // killed).
  QString profileDir;
  // The pipe LibreOffice takes connections on; empty: one per user for the user's profile, one
  // per object for a private profile. It need not be secret: only a socket of the user's own is
  // ever connected to.
  QString pipeName;
  // A LibreOffice started here shows no window at all (--headless); it is ended with the engine.
  bool headless = false;
  // Where documents nobody could see are stored before they are closed; empty:
  // DefaultReportsFolder().
  QString reportsFolder;
  // Time limits. LibreOffice not answering in time ends the call with an error, and the next
  // action connects anew.
  int startTimeoutMs = 60000;  // from starting LibreOffice until it answers
  int callTimeoutMs = 30000;   // one call (a data block, the summary, the variables)
  int loadTimeoutMs = 120000;  // a new document from its template, storing a copy
  int quitTimeoutMs = 120000;  // closing, which may wait for the user's answer on unsaved documents
};

// Whether LibreOffice Writer can show its window to this user.
struct WriterWindowCheck {
  bool canShow = false;
  QString reason;  // why not, for the user; empty when it can
};

// The report's port on a live LibreOffice Writer. The UNO work runs in the helper process
// kd735_writer, which this object starts and talks to over a socket, one message per call; this
// object holds no UNO object and links no LibreOffice library, so a program with it starts where
// LibreOffice is missing, and a Writer that hangs or dies can neither hang nor crash the program.
//
// Documents nobody could see (a headless or private LibreOffice, or no screen to show Writer on)
// are never closed unstored: CloseDocuments and the engine's end store each one the user has not
// stored since its last change as a .docx in the reports folder, under a name that is new there.
//
// Not thread-safe: use it from one thread at a time (it may move between threads, it has no
// thread affinity). Every call returns within its time limit.
class WriterEngine final : public ReportPort {
 public:
  explicit WriterEngine(WriterEngineOptions options = {});
  // Shutdown() when it was not called; a private LibreOffice is ended in any case.
  ~WriterEngine() override;
  WriterEngine(const WriterEngine&) = delete;
  WriterEngine& operator=(const WriterEngine&) = delete;

  // The environment the helper runs in: LibreOffice's program folder first in LD_LIBRARY_PATH,
  // where its UNO libraries must come from.
  static QStringList HelperEnvironment();
  // The helper program: `configured` when it is one, else kd735_writer beside the running
  // program or in <program folder>/../lib/kd735/. Empty: none.
  static QString FindHelper(const QString& configured = {});
  // LibreOffice's program: `configured`, else soffice on the PATH. Empty: none.
  static QString FindSoffice(const QString& configured = {});
  // Whether Writer can show its window here: a LibreOffice with a desktop display back end (more
  // than the headless one) and a screen (DISPLAY or WAYLAND_DISPLAY). Looks at files only.
  static WriterWindowCheck CheckWindow(
      const QString& soffice = {},
      const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());

  // The process (and process group) of the LibreOffice this object started while it runs; 0 when
  // it started none or that one has ended.
  qint64 officeProcessId() const;
  // Messages sent to the helper so far: one per call of the port (Begin polls while it starts
  // LibreOffice).
  std::uint64_t helperMessages() const;

  // The engine's end, to call before destroying it: documents nobody could see are stored into
  // the reports folder (named in `outcome->keptFiles`) and closed, and a LibreOffice of the
  // engine's own is ended. On a failure to store, nothing is closed and the text names the file;
  // the destructor then ends a private LibreOffice all the same. Later calls do nothing.
  PortStatus Shutdown(CloseOutcome* outcome = nullptr);

  PortStatus Begin() override;
  PortStatus End() override;
  PortStatus CreateDocument(const QString& templatePath, QString* name) override;
  PortStatus FillVariables(const std::vector<DocumentVariable>& variables) override;
  PortStatus AppendBlock(const DataBlock& block, BlockOutcome* outcome) override;
  PortStatus AppendSummary(const SummaryTable& summary, SummaryOutcome* outcome) override;
  PortStatus Where(DocumentPlace* place) override;
  PortStatus StoreCopy(const QString& path) override;
  PortStatus CloseDocuments(CloseOutcome* outcome) override;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kd735
