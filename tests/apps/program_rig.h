#pragma once

// Both programs' windows on a simulated instrument, as the tests start them.

#include <QCheckBox>
#include <QLabel>
#include <memory>

#include "apps/common/link_form.h"
#include "apps/common/panel_form.h"
#include "apps/report/report_program.h"
#include "apps/virtual/virtual_program.h"
#include "report/docx_engine.h"
#include "tests/apps/gui_support.h"

namespace kd735::gui_test {

// Under ThreadSanitizer a test program must start no child process. Qt starts one with vfork
// (clone with CLONE_VM), and the tool's fork bookkeeping then runs in the child on memory it
// shares with the test: from there on the process counts as forked while threaded, dies at its
// next thread start (die_after_fork), and otherwise watches neither the threads it starts later
// nor the accesses and locks of the thread that started the child; what it reports after that
// stands on a broken picture. So under the tool the report program is given its .docx engine
// and never starts the Writer helper to find out whether Writer can be used.
#if defined(__SANITIZE_THREAD__)
inline constexpr bool kUnderThreadSanitizer = true;
#else
inline constexpr bool kUnderThreadSanitizer = false;
#endif

// The .docx engine, opening nothing with the desktop's programs.
inline ReportSession::EngineFactory QuietDocxEngine() {
  return [](ReportSession::OwnerCall) {
    DocxEngineOptions options;
    options.openFile = [](const QString&) { return true; };
    return std::unique_ptr<ReportPort>(std::make_unique<DocxEngine>(options));
  };
}

enum class Which { kReport, kVirtual };

inline const char* Name(Which w) { return w == Which::kReport ? "report" : "virtual"; }

inline sim::SimulatedBus::Options RealisticBus() {
  sim::SimulatedBus::Options o;
  o.latencyMs = 1;
  o.realClock = true;
  return o;
}

struct ProgramRig {
  explicit ProgramRig(Which kind, bool instrument = true,
                      sim::SimulatedBus::Options options = RealisticBus(),
                      report_app::ReportEnvironment environment = {})
      : which(kind), sim(options), bus(sim) {
    App();
    if (instrument) path = sim.AttachInstrument(1, QStringLiteral("00123"));
    if (which == Which::kReport) {
      if (kUnderThreadSanitizer && !environment.engine) environment.engine = QuietDocxEngine();
      auto p = std::make_unique<report_app::ReportProgram>(bus, &sim, std::move(environment));
      main = &p->MainForm();
      link = &p->LinkForm();
      program = std::move(p);
    } else {
      auto p = std::make_unique<virtual_app::VirtualProgram>(bus, &sim);
      main = &p->MainForm();
      link = &p->LinkForm();
      message = &p->MessageForm();
      program = std::move(p);
    }
  }

  LinkController& Link() { return link->Link(); }
  QString Panel(int n) const { return main->Footer()->PanelText(n); }
  template <typename T = QWidget>
  T* Find(const char* name) const {
    T* found = main->findChild<T*>(QString::fromLatin1(name));
    if (!found && message) found = message->findChild<T*>(QString::fromLatin1(name));
    return found;
  }
  // The command packets sent since the last call.
  std::vector<Packet> TakeCommands() {
    auto commands = bus.Commands();
    bus.ClearCommands();
    return commands;
  }
  int CommandLogLines() const {
    int n = 0;
    for (const QString& line : link->Link().Log())
      if (line.mid(5).startsWith(QStringLiteral("Команда = "))) ++n;
    return n;
  }

  Which which;
  sim::SimulatedBus sim;
  RecordingBus bus;
  QString path;
  std::unique_ptr<ProgramWindows> program;
  TPanelForm* main = nullptr;
  TLinkForm* link = nullptr;
  QWidget* message = nullptr;
};

}  // namespace kd735::gui_test
