#include "report/report_session.h"

#include <QMetaObject>
#include <QThread>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace kd735 {

// The engine and the report's state (its block counters) on the worker thread.
class ReportSession::Worker final : public QObject, public ReportFeedback {
 public:
  Worker(ReportSession& session, EngineFactory factory)
      : session_(session), factory_(std::move(factory)) {}

  // Made on the first action, on this thread: some engines start a program or a thread.
  WordReport& Report() {
    if (!report_) {
      clipboard_.SetMirror([this](const QImage& picture) {
        ReportSession& s = session_;
        if (s.closing_ || !s.handlers_.pictureCopied) return;
        auto copied = s.handlers_.pictureCopied;
        QMetaObject::invokeMethod(
            &s, [copied, picture] { copied(picture); }, Qt::QueuedConnection);
      });
      engine_ = factory_([this](const std::function<void()>& f) { return session_.CallOwner(f); });
      report_ = std::make_unique<WordReport>(*engine_, clipboard_, *this);
    }
    return *report_;
  }
  ReportPort& Engine() {
    Report();
    return *engine_;
  }

  void ShowMessage(const ReportMessage& message) override {
    auto show = session_.handlers_.showMessage;
    if (show) session_.CallOwner([show, message] { show(message); });
  }
  void SetStatusText(const QString& text) override {
    ReportSession& s = session_;
    if (s.closing_ || !s.handlers_.setStatus) return;
    auto set = s.handlers_.setStatus;
    QMetaObject::invokeMethod(
        &s, [set, text] { set(text); }, Qt::QueuedConnection);
  }

  ~Worker() override {
    report_.reset();
    engine_.reset();  // writes what is unsaved, on this thread
  }

 private:
  ReportSession& session_;
  EngineFactory factory_;
  PictureClipboard clipboard_;
  std::unique_ptr<ReportPort> engine_;
  std::unique_ptr<WordReport> report_;
};

ReportSession::ReportSession(EngineFactory factory, Handlers handlers, QObject* parent)
    : QObject(parent), handlers_(std::move(handlers)) {
  thread_ = new QThread(this);
  thread_->setObjectName(QStringLiteral("ReportSession"));
  worker_ = new Worker(*this, std::move(factory));
  worker_->moveToThread(thread_);
  // Destroyed on its own thread as that thread ends.
  connect(thread_, &QThread::finished, worker_, &QObject::deleteLater);
  thread_->start();
}

ReportSession::~ReportSession() {
  closing_ = true;
  thread_->quit();
  thread_->wait();
}

bool ReportSession::CallOwner(const std::function<void()>& function) {
  if (closing_) return false;
  // The standard library's lock, so that what the function wrote is seen here after the wait
  // (and race detectors see that too).
  struct Done {
    std::mutex mutex;  // guards `finished`
    std::condition_variable changed;
    bool finished = false;
  };
  auto done = std::make_shared<Done>();
  QMetaObject::invokeMethod(
      this,
      [function, done] {
        function();
        {
          std::lock_guard lock(done->mutex);
          done->finished = true;
        }
        done->changed.notify_all();
      },
      Qt::QueuedConnection);
  // A closing session stops waiting; the queued call then goes with the session.
  std::unique_lock lock(done->mutex);
  while (
      !done->changed.wait_for(lock, std::chrono::milliseconds(50), [&] { return done->finished; }))
    if (closing_) return false;
  return true;
}

void ReportSession::Post(std::function<void(Worker&)> job, std::function<void()> done) {
  ++pending_;
  QMetaObject::invokeMethod(
      worker_,
      [this, job = std::move(job), done = std::move(done)] {
        if (closing_) {
          --pending_;  // dropped: it never runs
          return;
        }
        job(*worker_);
        QMetaObject::invokeMethod(
            this,
            [this, done] {
              --pending_;
              if (done) done();
            },
            Qt::QueuedConnection);
      },
      Qt::QueuedConnection);
}

void ReportSession::CreateDocument(const QString& templatePath, const ReportSettings& settings,
                                   const std::optional<QString>& firstInstrument,
                                   std::function<void(const Created&)> done) {
  auto result = std::make_shared<Created>();
  Post(
      [templatePath, settings, firstInstrument, result](Worker& w) {
        ReportSettings s = settings;
        result->ok = w.Report().CreateWordDocument(templatePath, s, firstInstrument);
        result->documentNumber = s.documentNumber;
        if (result->ok) result->place = w.Report().ActiveDocumentPlace().value_or(DocumentPlace{});
      },
      [result, done = std::move(done)] {
        if (done) done(*result);
      });
}

void ReportSession::CloseDocuments(std::function<void(bool ok)> done) {
  auto ok = std::make_shared<bool>(false);
  Post([ok](Worker& w) { *ok = w.Report().CloseWordDocuments(); },
       [ok, done = std::move(done)] {
         if (done) done(*ok);
       });
}

void ReportSession::SendFiles(BlockKind kind, std::vector<Record> records,
                              std::function<ReportSettings()> settingsNow,
                              std::function<void(bool ok)> done) {
  auto ok = std::make_shared<bool>(false);
  Post(
      [this, kind, records = std::move(records), settingsNow = std::move(settingsNow),
       ok](Worker& w) {
        std::vector<std::unique_ptr<TKD735FileContent>> contents;
        for (const Record& r : records) contents.push_back(CreateFileContent(r));
        std::vector<const TKD735FileContent*> entries;
        for (const auto& c : contents) entries.push_back(c.get());
        // Read on the owner's thread, anew for every block; nothing when the owner is closing.
        auto settings = [this, &settingsNow]() -> std::optional<ReportSettings> {
          auto value = std::make_shared<ReportSettings>();
          if (!CallOwner([value, settingsNow] { *value = settingsNow(); })) return std::nullopt;
          return *value;
        };
        *ok = w.Report().SendAllFiles(kind, entries, settings);
      },
      [ok, done = std::move(done)] {
        if (done) done(*ok);
      });
}

void ReportSession::SendSummary(SummaryTable summary, std::function<void(bool ok)> done) {
  auto ok = std::make_shared<bool>(false);
  Post([summary = std::move(summary), ok](Worker& w) { *ok = w.Report().SendSummary(summary); },
       [ok, done = std::move(done)] {
         if (done) done(*ok);
       });
}

void ReportSession::StoreCopy(const QString& path, std::function<void(const QString& error)> done) {
  auto error = std::make_shared<QString>();
  Post(
      [path, error](Worker& w) {
        ReportPort& port = w.Engine();
        PortStatus status = port.Begin();
        if (status) {
          status = port.StoreCopy(path);
          port.End();
        }
        if (!status) *error = status.text();
      },
      [error, done = std::move(done)] {
        if (done) done(*error);
      });
}

}  // namespace kd735
