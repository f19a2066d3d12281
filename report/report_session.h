#pragma once

#include <QImage>
#include <QObject>
#include <QString>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "report/report_port.h"
#include "report/report_settings.h"
#include "report/word_report.h"

class QThread;

namespace kd735 {

// The report's actions on a thread of their own, so that the windows stay alive (the live screen
// keeps drawing) while a document is made or blocks are written. The engine is made, used and
// destroyed on that thread only. Actions run one after another in the order they were asked for.
// A message box an action shows holds that action until the owner has shown it, so the order of
// the boxes and the steps stays as it is without a thread.
class ReportSession final : public QObject {
  Q_OBJECT

 public:
  // Runs a function on the owner's thread and waits for it; returns false, without waiting for
  // it, when the session is closing.
  using OwnerCall = std::function<bool(const std::function<void()>& function)>;
  using EngineFactory = std::function<std::unique_ptr<ReportPort>(OwnerCall call)>;

  // All run on the owner's thread.
  struct Handlers {
    std::function<void(const ReportMessage& message)> showMessage;  // a modal box
    std::function<void(const QString& text)> setStatus;
    std::function<void(const QImage& picture)> pictureCopied;  // the block picture of each block
  };

  struct Created {
    bool ok = false;
    int documentNumber = 0;  // the number field's new value
    DocumentPlace place;     // where the document is (empty when it was not made)
  };

  ReportSession(EngineFactory factory, Handlers handlers, QObject* parent = nullptr);
  // Ends the action under way at its next step (a block run at its next block; its message boxes
  // are no longer shown) and waits for that step; later actions are dropped. What was sent is
  // kept: the engine writes it out as it goes.
  ~ReportSession() override;

  // "Открыть Word и создать документ".
  void CreateDocument(const QString& templatePath, const ReportSettings& settings,
                      const std::optional<QString>& firstInstrument,
                      std::function<void(const Created&)> done);
  // "Закрыть все документы Word".
  void CloseDocuments(std::function<void(bool ok)> done);
  // One file ("Отправить файл в MS Word") or every file of a list ("Отправить ВСЕ файлы");
  // the records are copies, so the lists may change meanwhile. The settings are asked for on
  // the owner's thread before each block; a run stops when they cannot be had.
  using Record = std::array<std::uint8_t, kFileRecordSize>;
  void SendFiles(BlockKind kind, std::vector<Record> records,
                 std::function<ReportSettings()> settingsNow, std::function<void(bool ok)> done);
  // The statistics of a survey after the last table of the active document.
  void SendSummary(SummaryTable summary, std::function<void(bool ok)> done);
  // A copy of the active document as .docx or .pdf (by the extension); `error` is empty on
  // success.
  void StoreCopy(const QString& path, std::function<void(const QString& error)> done);

  // Actions asked for and not yet finished.
  int Pending() const { return pending_.load(); }

 private:
  class Worker;
  // Runs on the worker thread; `done` then runs on the owner's thread.
  void Post(std::function<void(Worker&)> job, std::function<void()> done);
  bool CallOwner(const std::function<void()>& function);

  Handlers handlers_;
  QThread* thread_ = nullptr;
  Worker* worker_ = nullptr;  // lives on thread_, deleted there when it ends
  std::atomic<bool> closing_{false};
  std::atomic<int> pending_{0};
};

}  // namespace kd735
