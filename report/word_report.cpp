#include "report/word_report.h"

#include <QFileInfo>

#include "files/picture.h"

namespace kd735 {

namespace report_text {

QString TemplateNotFoundStatus(const QString& path) {
  return QStringLiteral("не найден файл шаблона ") + path;
}
QString TemplateNotFoundMessage(const QString& path) {
  return QStringLiteral("Файл шаблона \r") + path + QStringLiteral("\r") +
         QStringLiteral("не существует. Укажите корректное имя файла.");
}
QString DocumentOpenedStatus(const QString& name) {
  return QStringLiteral("Открыт документ Word -") + name;
}
QString WordOpenErrorStatus() { return QStringLiteral("ОШИБКА открытия Word."); }
QString WordOpenErrorMessage() {
  return QStringLiteral("ОШИБКА открытия Word.\rВозможно MS Word не установлен");
}
QString NoInstrumentMessage() {
  return QStringLiteral(
      "Прибор КД735 не подключен\rПоле \"тип и номер номер прибора\" останется не заполненным");
}
QString DocumentsClosedStatus() { return QStringLiteral("Документы Word закрыты."); }
QString NoDocumentsStatus() { return QStringLiteral("Нет открытых документов Word."); }
QString NoDocumentsMessage() {
  return QStringLiteral(
      "Сначала нужно создать документ Word.\rПотом передавайте в него файлы КД735.");
}
QString BlockAddedStatus(const QString& name) {
  return QStringLiteral("Документ-") + name + QStringLiteral(" добавлен блок данных.");
}
QString BlockErrorStatus() { return QStringLiteral("Ошибка добавления блока данных в Word."); }
QString BlockErrorMessage(int tablePosition) {
  return QStringLiteral(
             "Ошибка добавления блока данных в Word.\rНет такой ячейки в таблице или\rв документе "
             "нет таблицы с номером ") +
         QString::number(tablePosition);
}

}  // namespace report_text

namespace {

// Runs Word calls one after the other until the first that fails; keeps that failure.
class Steps {
 public:
  bool operator()(const WordStatus& s) {
    if (status_ && !s) status_ = s;
    return ok();
  }
  bool ok() const { return status_.ok(); }
  const WordStatus& status() const { return status_; }

 private:
  WordStatus status_;
};

}  // namespace

WordReport::WordReport(WordAutomation& word, PictureClipboard& clipboard, ReportFeedback& feedback)
    : word_(word), clipboard_(clipboard), feedback_(feedback) {}

void WordReport::SetStatus(const QString& text) {
  statusText_ = text;
  feedback_.SetStatusText(text);
}

void WordReport::Show(MessageBoxKind kind, const QString& text) {
  feedback_.ShowMessage(ReportMessage{kind, text});
}

bool WordReport::CreateWordDocument(const QString& templatePath, ReportSettings& settings,
                                    const std::optional<QString>& firstInstrument) {
  measureBlockCount_ = 0;
  bscanBlockCount_ = 0;
  if (!QFileInfo(templatePath).isFile()) {
    SetStatus(report_text::TemplateNotFoundStatus(templatePath));
    Show(MessageBoxKind::Error, report_text::TemplateNotFoundMessage(templatePath));
    return false;
  }

  Steps step;
  bool connected = false;
  if (step(word_.Connect())) connected = true;
  step.ok() && step(word_.SetVisible(true)) && step(word_.SetOption(true)) &&
      step(word_.DocumentsAdd(templatePath, false));
  WordDocumentRef doc;
  QString name;
  if (step.ok() && step(word_.ActiveDocument(&doc)) && step(word_.Name(doc, &name)))
    SetStatus(report_text::DocumentOpenedStatus(name));
  if (step.ok() && step(word_.ActiveDocument(&doc))) {
    settings.documentNumber = ClampToRange(settings.documentNumber, kDocumentNumberRange);
    if (settings.incrementNumber)
      settings.documentNumber =
          ClampToRange(static_cast<long long>(settings.documentNumber) + 1, kDocumentNumberRange);
    if (settings.insertNumber)
      step(word_.SetVariable(
          doc, QStringLiteral("NUMBER"),
          FormatNumber(QStringLiteral("0000"), settings.documentNumber, locale_)));
    if (step.ok() && settings.insertDate)
      step(word_.SetVariable(doc, QStringLiteral("TIMEDATA"),
                             locale_.toString(today_(), QLocale::ShortFormat)));
    if (step.ok() && settings.insertDeviceNumber) {
      if (!firstInstrument)
        Show(MessageBoxKind::Information, report_text::NoInstrumentMessage());
      else
        step(word_.SetVariable(doc, QStringLiteral("DEVNUM"), *firstInstrument));
    }
    step.ok() && step(word_.FieldsUpdate(doc));
  }
  if (step.ok()) {
    connected = false;
    if (step(word_.Disconnect())) return true;
  }
  if (connected) word_.Disconnect();
  Show(MessageBoxKind::Plain, step.status().text());
  SetStatus(report_text::WordOpenErrorStatus());
  Show(MessageBoxKind::Error, report_text::WordOpenErrorMessage());
  return false;
}

bool WordReport::CloseWordDocuments() {
  Steps step;
  bool connected = false;
  int count = 0;
  if (step(word_.Connect())) connected = true;
  if (step.ok() && step(word_.DocumentsCount(&count))) {
    if (count > 0) {
      if (step(word_.Activate()) && step(word_.Quit())) {
        connected = false;
        if (step(word_.Disconnect())) SetStatus(report_text::DocumentsClosedStatus());
      }
    } else {
      connected = false;
      if (step(word_.Disconnect())) SetStatus(report_text::NoDocumentsStatus());
    }
  }
  if (step.ok()) return true;
  if (connected) word_.Disconnect();
  Show(MessageBoxKind::Plain, step.status().text());
  return false;
}

bool WordReport::InsertDataBlock(int tablePosition, int& counter, const BlockText& block,
                                 const QImage& picture) {
  Steps step;
  bool connected = false;
  int count = 0;
  if (step(word_.Connect())) connected = true;
  if (step.ok() && step(word_.DocumentsCount(&count)) && count <= 0) {
    word_.Disconnect();
    SetStatus(report_text::NoDocumentsStatus());
    Show(MessageBoxKind::Information, report_text::NoDocumentsMessage());
    return false;
  }

  // The table is looked up afresh for every step, as Word's collection is.
  const int n = tablePosition;
  WordDocumentRef doc;
  WordTableRef table;
  int row = 0;
  QString name;
  step.ok() && step(word_.ActiveDocument(&doc)) && step(word_.TablesItem(doc, n, &table)) &&
      step(word_.RowsAdd(table)) && step(word_.TablesItem(doc, n, &table)) &&
      step(word_.RowsCount(table, &row)) && step(word_.TablesItem(doc, n, &table)) &&
      step(word_.CellSelect(table, row, 1)) && step(word_.SetSelectionAlignment(kWordAlignCenter));
  if (step.ok()) {
    ++counter;
    step(word_.SetSelectionText(QString::number(counter)));
  }
  if (step.ok() && step(word_.TablesItem(doc, n, &table)) &&
      step(word_.CellSelect(table, row, 2)) &&
      step(word_.SetSelectionAlignment(kWordAlignJustify))) {
    clipboard_.SetPicture(picture);
    step(word_.SelectionPaste());
  }
  step.ok() && step(word_.TablesItem(doc, n, &table)) && step(word_.CellSelect(table, row, 3)) &&
      step(word_.SetSelectionFontName(block.font.name)) &&
      step(word_.SetSelectionFontSize(static_cast<float>(block.font.size))) &&
      step(word_.SetSelectionFontBold(block.font.bold ? 1 : 0)) &&
      step(word_.SetSelectionFontItalic(block.font.italic ? 1 : 0)) &&
      step(word_.SetSelectionFontColorIndex(kWordColorAutomatic)) &&
      step(word_.SetSelectionAlignment(kWordAlignLeft)) &&
      step(word_.SetSelectionText(BlockTextForDocument(block))) &&
      step(word_.SelectionCollapse(kWordCollapseEnd)) && step(word_.Name(doc, &name));
  if (step.ok()) {
    connected = false;
    if (step(word_.Disconnect())) {
      SetStatus(report_text::BlockAddedStatus(name));
      return true;
    }
  }
  if (connected) word_.Disconnect();
  Show(MessageBoxKind::Plain, step.status().text());
  SetStatus(report_text::BlockErrorStatus());
  Show(MessageBoxKind::Error, report_text::BlockErrorMessage(n));
  return false;
}

bool WordReport::SendSelectedFile(BlockKind kind, const TKD735FileContent* selected,
                                  const ReportSettings& settings) {
  if (!selected) return true;
  const ReportSettings s = settings.Clamped();
  const RecordView record(selected->record);
  if (kind == BlockKind::Measure) {
    return InsertDataBlock(s.measure.tablePosition, measureBlockCount_,
                           BuildMeasureBlock(record, s, locale_),
                           RenderPicture(record, s.measure.invertPicture));
  }
  return InsertDataBlock(s.bscan.tablePosition, bscanBlockCount_,
                         BuildBscanBlock(record, s, locale_),
                         RenderPicture(record, s.bscan.invertPicture));
}

bool WordReport::SendAllFiles(BlockKind kind, std::span<const TKD735FileContent* const> entries,
                              const ReportSettings& settings) {
  return SendAllFiles(kind, entries, [&settings] { return settings; });
}

bool WordReport::SendAllFiles(BlockKind kind, std::span<const TKD735FileContent* const> entries,
                              const std::function<ReportSettings()>& settingsNow) {
  if (entries.empty()) return true;
  // One connection held over the whole run makes it one action: the blocks are written together.
  const WordStatus held = word_.Connect();
  bool ok = true;
  for (const TKD735FileContent* entry : entries) {
    if (!entry) continue;
    if (!SendSelectedFile(kind, entry, settingsNow())) {
      ok = false;
      break;
    }
  }
  if (!held) return ok;
  const WordStatus saved = word_.Disconnect();
  if (ok && !saved) {
    Show(MessageBoxKind::Plain, saved.text());
    SetStatus(report_text::BlockErrorStatus());
    return false;
  }
  return ok;
}

}  // namespace kd735
