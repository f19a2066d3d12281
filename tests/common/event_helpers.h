#pragma once

#include <QCoreApplication>
#include <QEventLoop>
#include <chrono>
#include <cstdint>

#include "link/command_protocol.h"
#include "link/usb_bus.h"

// Small helpers shared by the link and bus tests.
namespace kd735::testing {

// One QCoreApplication for the whole test program.
inline QCoreApplication& App() {
  static int argc = 1;
  static char name[] = "test";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
  return app;
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
