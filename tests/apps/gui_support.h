#pragma once

// What the window tests share: one QApplication (offscreen), a bus that records every command
// packet on its way to the simulated instrument, a watcher that answers the modal boxes and
// dialogs the windows open, and event-loop waits that fail instead of hanging.

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "link/usb_bus.h"
#include "sim/simulated_bus.h"
#include "tests/common/event_helpers.h"

namespace kd735::gui_test {

// The one QApplication of a window test, headless; closing a window never ends it.
inline QApplication& App() {
  static QApplication& app = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication& a = testing::App<QApplication>();
    a.setQuitOnLastWindowClosed(false);
    return std::ref(a);
  }();
  return app;
}

// A bus in front of another that keeps the data of every command packet sent (thread-safe).
class RecordingBus final : public UsbBus {
 public:
  explicit RecordingBus(UsbBus& inner) : inner_(inner) {}

  std::vector<Packet> Commands() const {
    std::lock_guard lock(mu_);
    return commands_;
  }
  void ClearCommands() {
    std::lock_guard lock(mu_);
    commands_.clear();
  }

  std::vector<TUSBPnPInfo> ListDevices() override { return inner_.ListDevices(); }
  std::unique_ptr<CommandChannel> OpenCommandChannel(const QString& devPath) override {
    auto channel = inner_.OpenCommandChannel(devPath);
    if (!channel) return nullptr;
    return std::make_unique<Channel>(*this, std::move(channel));
  }
  std::unique_ptr<StreamChannel> OpenStreamChannel(const QString& devPath) override {
    return inner_.OpenStreamChannel(devPath);
  }
  void SetDeviceChangeCallback(std::function<void()> callback) override {
    inner_.SetDeviceChangeCallback(std::move(callback));
  }
  OpenError LastOpenError() const override { return inner_.LastOpenError(); }

 private:
  class Channel final : public CommandChannel {
   public:
    Channel(RecordingBus& bus, std::unique_ptr<CommandChannel> inner)
        : bus_(bus), inner_(std::move(inner)) {}
    bool Transfer(TransferRecord& record, int timeoutMs, std::uint32_t& bytes) override {
      if (record.Endpoint() == kCommandEndpoint) {
        std::lock_guard lock(bus_.mu_);
        bus_.commands_.push_back(record.DataPacket());
      }
      return inner_->Transfer(record, timeoutMs, bytes);
    }

   private:
    RecordingBus& bus_;
    std::unique_ptr<CommandChannel> inner_;
  };

  UsbBus& inner_;
  mutable std::mutex mu_;  // guards commands_: the UI thread adds, tests read from any thread
  std::vector<Packet> commands_;
};

inline std::uint16_t Word(const Packet& p, std::size_t n) {
  return std::uint16_t(p[2 * n] << 8 | p[2 * n + 1]);
}

// Answers what the windows show modally, in the order they show it: message boxes are recorded
// and closed with the queued answer (OK / Yes when none is queued), file dialogs get the queued
// file name or are cancelled.
class ModalWatcher {
 public:
  struct Box {
    QMessageBox::Icon icon;
    QString title;
    QString text;
  };

  ModalWatcher() {
    App();
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
  }

  // The next file dialog selects this path and accepts; an empty path cancels it.
  void AnswerFileDialog(const QString& path) { files_.push_back(path); }
  // The next font dialog chooses this font and accepts.
  void AnswerFontDialog(const QFont& font) { fonts_.push_back(font); }
  int FontDialogs() const { return fontDialogs_; }
  // The next message box is answered with this button.
  void AnswerBox(QMessageBox::StandardButton button) { answers_.push_back(button); }

  const std::vector<Box>& Boxes() const { return boxes_; }
  std::vector<QString> Texts() const {
    std::vector<QString> texts;
    for (const Box& b : boxes_) texts.push_back(b.text);
    return texts;
  }
  int FileDialogs() const { return fileDialogs_; }
  void Clear() { boxes_.clear(); }

 private:
  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    // Marked rather than remembered: the next box may sit at the same address.
    if (!modal || modal->property("gui_test_handled").toBool()) return;
    modal->setProperty("gui_test_handled", true);
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      boxes_.push_back({box->icon(), box->windowTitle(), box->text()});
      QMessageBox::StandardButton answer = QMessageBox::NoButton;
      if (!answers_.empty()) {
        answer = answers_.front();
        answers_.pop_front();
      }
      QAbstractButton* button = answer != QMessageBox::NoButton ? box->button(answer) : nullptr;
      if (!button) button = box->button(QMessageBox::Ok);
      if (!button) button = box->button(QMessageBox::Yes);
      if (button)
        QTimer::singleShot(0, button, &QAbstractButton::click);
      else
        QTimer::singleShot(0, box, &QDialog::reject);
    } else if (auto* fonts = qobject_cast<QFontDialog*>(modal)) {
      ++fontDialogs_;
      std::optional<QFont> font;
      if (!fonts_.empty()) {
        font = fonts_.front();
        fonts_.pop_front();
      }
      QTimer::singleShot(0, fonts, [fonts, font] {
        if (!font) {
          fonts->reject();
          return;
        }
        fonts->setCurrentFont(*font);
        fonts->accept();
      });
    } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
      ++fileDialogs_;
      QString path;
      if (!files_.empty()) {
        path = files_.front();
        files_.pop_front();
      }
      QTimer::singleShot(0, dialog, [dialog, path] {
        if (path.isEmpty()) {
          dialog->reject();
          return;
        }
        // As a person would: the full name typed into the name box, then the dialog's button.
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        auto* buttons = dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
        if (!name || !buttons) {
          dialog->reject();
          return;
        }
        name->setText(path);
        QAbstractButton* ok = buttons->button(QDialogButtonBox::Save);
        if (!ok) ok = buttons->button(QDialogButtonBox::Open);
        if (ok) ok->click();
      });
    }
  }

  QTimer timer_;
  std::deque<QString> files_;
  std::deque<QFont> fonts_;
  int fontDialogs_ = 0;
  std::deque<QMessageBox::StandardButton> answers_;
  std::vector<Box> boxes_;
  int fileDialogs_ = 0;
};

}  // namespace kd735::gui_test
