#pragma once

#include <QCoreApplication>
#include <QEventLoop>
#include <chrono>
#include <cstdint>

#include "link/command_protocol.h"
#include "link/usb_bus.h"

// Small helpers shared by the tests that run an event loop.
namespace kd735::testing {

// One application object for the whole test program, of the kind its tests need
// (QCoreApplication, QGuiApplication or QApplication); a program asks for one kind only. It is
// never destroyed: a QApplication taken apart among the exit's static destructors crashes.
template <typename Application = QCoreApplication>
Application& App() {
  static int argc = 1;
  static char name[] = "test";
  static char* argv[] = {name, nullptr};
  static Application* app = new Application(argc, argv);
  return *app;
}

// Runs the event loop until the condition holds; false after a generous while, so that a fault
// fails the test rather than hanging it.
template <typename Predicate>
bool PumpUntil(Predicate done, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!done() && std::chrono::steady_clock::now() < until)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  return done();
}

// Runs the event loop for a while.
inline void PumpFor(std::chrono::milliseconds time) {
  const auto until = std::chrono::steady_clock::now() + time;
  while (std::chrono::steady_clock::now() < until)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// One command packet on a command channel; true when all 64 bytes went out.
inline bool SendCommandPacket(CommandChannel& channel, std::uint16_t command, std::uint16_t data) {
  TransferRecord record = MakeTransferRecord(kCommandEndpoint, BuildCommandPacket(command, data));
  std::uint32_t bytes = 0;
  return channel.Transfer(record, 1000, bytes) && bytes == kPacketSize;
}

// One reply from a command channel; true when a whole packet came.
inline bool ReadReplyPacket(CommandChannel& channel, Packet& reply) {
  TransferRecord record = MakeTransferRecord(kReplyEndpoint);
  std::uint32_t bytes = 0;
  const bool ok = channel.Transfer(record, 500, bytes);
  reply = record.DataPacket();
  return ok && bytes == kPacketSize;
}

}  // namespace kd735::testing
