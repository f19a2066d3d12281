#pragma once

// Both programs' windows on a simulated instrument, as the tests start them.

#include <QCheckBox>
#include <QLabel>
#include <memory>

#include "apps/common/link_form.h"
#include "apps/common/panel_form.h"
#include "apps/report/report_program.h"
#include "apps/virtual/virtual_program.h"
#include "tests/apps/gui_support.h"

namespace kd735::gui_test {

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
