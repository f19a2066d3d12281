#pragma once

#include <QDate>
#include <QImage>
#include <QLocale>
#include <QString>

#include <functional>
#include <optional>
#include <span>

#include "files/file_record.h"
#include "report/data_block.h"
#include "report/picture_clipboard.h"
#include "report/report_port.h"
#include "report/report_settings.h"

// The Word report's actions without a window: creating the document from the template, closing
// Word's documents, and sending instrument files as data blocks. The window (or the command-line
// tool) shows the messages and the status text these actions hand to their feedback.
namespace kd735 {

enum class MessageBoxKind { Plain, Error, Information };

// One modal message box with an OK button. Lines of the text are broken by "\r".
struct ReportMessage {
  MessageBoxKind kind = MessageBoxKind::Plain;
  QString text;
  bool operator==(const ReportMessage&) const = default;
};

// Where the actions report to. ShowMessage stands for a modal box: the action goes on after it.
class ReportFeedback {
 public:
  virtual ~ReportFeedback() = default;
  virtual void ShowMessage(const ReportMessage& message) = 0;
  virtual void SetStatusText(const QString& text) = 0;
};

// The fixed texts of the actions.
namespace report_text {
QString TemplateNotFoundStatus(const QString& path);  // "не найден файл шаблона <path>"
QString TemplateNotFoundMessage(const QString& path);
QString DocumentOpenedStatus(const QString& name);  // "Открыт документ Word -<name>"
QString WordOpenErrorStatus();                      // "ОШИБКА открытия Word."
QString WordOpenErrorMessage();
QString NoInstrumentMessage();
QString DocumentsClosedStatus();  // "Документы Word закрыты."
QString NoDocumentsStatus();      // "Нет открытых документов Word."
QString NoDocumentsMessage();
QString BlockAddedStatus(const QString& name);  // "Документ-<name> добавлен блок данных."
QString BlockErrorStatus();  // "Ошибка добавления блока данных в Word."
QString BlockErrorMessage(int tablePosition);
// With the connection to the word processor lost part way, the one box says so.
QString ConnectionLostMessage(const QString& reason);
// The documents were closed, and those the user had not seen were kept in these files.
QString DocumentsKeptStatus(const QStringList& files);
QString SummaryAddedStatus(const QString& name);  // "Документ-<name> добавлена сводка измерений."
QString SummaryErrorStatus();  // "Ошибка добавления сводки в документ."
}  // namespace report_text

enum class BlockKind { Measure, Bscan };

class WordReport {
 public:
  WordReport(ReportPort& port, PictureClipboard& clipboard, ReportFeedback& feedback);

  // "Открыть Word и создать документ": a new document from the template with the variables
  // NUMBER, TIMEDATA and DEVNUM. `settings.documentNumber` is advanced in place when the
  // settings ask for it. `firstInstrument` is the first connected instrument's name, or nothing
  // when none is connected. Both block counters are 0 afterwards, whatever happens. Returns true
  // when the document was made.
  bool CreateWordDocument(const QString& templatePath, ReportSettings& settings,
                          const std::optional<QString>& firstInstrument);

  // "Закрыть все документы Word". Returns false when the word processor reported an error.
  bool CloseWordDocuments();

  // Appends one block (running number, picture, text lines in the block font) as a new last row
  // of table `tablePosition` of the active document. `counter` is the kind's running number,
  // increased just before it is written. Returns true when the block is in the document.
  bool InsertDataBlock(int tablePosition, int& counter, const BlockText& block,
                       const QImage& picture);

  // "Отправить файл в MS Word": the selected entry's record (null: an entry without content, or
  // no selection; nothing is done). Returns false when the block could not be written.
  bool SendSelectedFile(BlockKind kind, const TKD735FileContent* selected,
                        const ReportSettings& settings);

  // "Отправить ВСЕ файлы в MS Word": every entry in order (null entries are skipped); stops at the
  // first block that fails. The caller disables the list around the call. The whole run is one
  // user action: the document is written once, at its end. Returns false on a failure.
  bool SendAllFiles(BlockKind kind, std::span<const TKD735FileContent* const> entries,
                    const ReportSettings& settings);
  // The same with the settings asked for anew before each block (they are read from the window
  // for every entry). When they cannot be had (the window is closing) the run stops before that
  // block, keeping what was sent, and returns false.
  bool SendAllFiles(BlockKind kind, std::span<const TKD735FileContent* const> entries,
                    const std::function<std::optional<ReportSettings>()>& settingsNow);

  // The statistics of a survey as a heading and a table after the active document's last table.
  // Returns true when they are in the document.
  bool SendSummary(const SummaryTable& summary);

  // Where the active document is; nothing when there is none or the engine cannot tell.
  std::optional<DocumentPlace> ActiveDocumentPlace();

  // Running numbers of the blocks, per kind.
  int MeasureBlockCount() const { return measureBlockCount_; }
  int BscanBlockCount() const { return bscanBlockCount_; }
  const QString& ReportStatusText() const { return statusText_; }

  // The locale of dates and numbers (the user's by default) and today's date (for tests).
  void SetLocale(const QLocale& locale) { locale_ = locale; }
  void SetToday(std::function<QDate()> today) { today_ = std::move(today); }

 private:
  void SetStatus(const QString& text);
  void Show(MessageBoxKind kind, const QString& text);
  // A block that failed: the word processor's text, the status and the report's own box; a lost
  // connection gets one box that says so.
  void BlockFailed(const PortStatus& status, int tablePosition);

  ReportPort& port_;
  PictureClipboard& clipboard_;
  ReportFeedback& feedback_;
  int measureBlockCount_ = 0;
  int bscanBlockCount_ = 0;
  QString statusText_;
  QLocale locale_ = UserLocale();
  std::function<QDate()> today_ = [] { return QDate::currentDate(); };
};

}  // namespace kd735
