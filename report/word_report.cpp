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

QString ConnectionLostMessage(const QString& reason) {
  return QStringLiteral("Ошибка добавления блока данных в Word.\r") + reason;
}
QString DocumentsKeptStatus(const QStringList& files) {
  return DocumentsClosedStatus() + QStringLiteral(" Несохраненные документы записаны: ") +
         files.join(QStringLiteral(", "));
}
QString SummaryAddedStatus(const QString& name) {
  return QStringLiteral("Документ-") + name + QStringLiteral(" добавлена сводка измерений.");
}
QString SummaryErrorStatus() { return QStringLiteral("Ошибка добавления сводки в документ."); }

}  // namespace report_text

WordReport::WordReport(ReportPort& port, PictureClipboard& clipboard, ReportFeedback& feedback)
    : port_(port), clipboard_(clipboard), feedback_(feedback) {}

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

  PortStatus status = port_.Begin();
  const bool begun = status.ok();
  QString name;
  if (status) status = port_.CreateDocument(templatePath, &name);
  if (status) {
    SetStatus(report_text::DocumentOpenedStatus(name));
    settings.documentNumber = ClampToRange(settings.documentNumber, kDocumentNumberRange);
    if (settings.incrementNumber)
      settings.documentNumber =
          ClampToRange(static_cast<long long>(settings.documentNumber) + 1, kDocumentNumberRange);
    // In the order NUMBER, TIMEDATA, DEVNUM; the fields are updated after them.
    std::vector<DocumentVariable> variables;
    if (settings.insertNumber)
      variables.push_back({QStringLiteral("NUMBER"),
                           FormatNumber(QStringLiteral("0000"), settings.documentNumber, locale_)});
    if (settings.insertDate)
      variables.push_back(
          {QStringLiteral("TIMEDATA"), locale_.toString(today_(), QLocale::ShortFormat)});
    if (settings.insertDeviceNumber && firstInstrument)
      variables.push_back({QStringLiteral("DEVNUM"), *firstInstrument});
    status = port_.FillVariables(variables);
    if (status && settings.insertDeviceNumber && !firstInstrument)
      Show(MessageBoxKind::Information, report_text::NoInstrumentMessage());
  }
  if (begun) {
    const PortStatus ended = port_.End();
    if (status) status = ended;
  }
  if (status) return true;
  Show(MessageBoxKind::Plain, status.text());
  SetStatus(report_text::WordOpenErrorStatus());
  Show(MessageBoxKind::Error, report_text::WordOpenErrorMessage());
  return false;
}

bool WordReport::CloseWordDocuments() {
  PortStatus status = port_.Begin();
  const bool begun = status.ok();
  CloseOutcome outcome;
  if (status) status = port_.CloseDocuments(&outcome);
  if (begun) {
    const PortStatus ended = port_.End();
    if (status) status = ended;
  }
  if (!status) {
    Show(MessageBoxKind::Plain, status.text());
    return false;
  }
  if (outcome.documents <= 0)
    SetStatus(report_text::NoDocumentsStatus());
  else if (outcome.keptFiles.isEmpty())
    SetStatus(report_text::DocumentsClosedStatus());
  else
    SetStatus(report_text::DocumentsKeptStatus(outcome.keptFiles));
  return true;
}

void WordReport::BlockFailed(const PortStatus& status, int tablePosition) {
  if (status.connectionLost()) {
    SetStatus(report_text::BlockErrorStatus());
    Show(MessageBoxKind::Error, report_text::ConnectionLostMessage(status.text()));
    return;
  }
  Show(MessageBoxKind::Plain, status.text());
  SetStatus(report_text::BlockErrorStatus());
  Show(MessageBoxKind::Error, report_text::BlockErrorMessage(tablePosition));
}

bool WordReport::InsertDataBlock(int tablePosition, int& counter, const BlockText& block,
                                 const QImage& picture) {
  PortStatus status = port_.Begin();
  if (!status) {
    BlockFailed(status, tablePosition);
    return false;
  }
  DataBlock data{tablePosition, counter + 1, picture, block.lines, block.font};
  BlockOutcome outcome;
  status = port_.AppendBlock(data, &outcome);
  if (status && outcome.noDocument) {
    port_.End();
    SetStatus(report_text::NoDocumentsStatus());
    Show(MessageBoxKind::Information, report_text::NoDocumentsMessage());
    return false;
  }
  // What the word processor did before a failure stays done, the running number and the
  // clipboard's picture included.
  if (outcome.reached >= BlockStage::kNumberCell) counter = data.number;
  if (outcome.reached >= BlockStage::kPictureCell) clipboard_.SetPicture(picture);
  const PortStatus ended = port_.End();
  if (status) status = ended;
  if (!status) {
    BlockFailed(status, tablePosition);
    return false;
  }
  SetStatus(report_text::BlockAddedStatus(outcome.documentName));
  return true;
}

bool WordReport::SendSummary(const SummaryTable& summary) {
  PortStatus status = port_.Begin();
  const bool begun = status.ok();
  SummaryOutcome outcome;
  if (status) status = port_.AppendSummary(summary, &outcome);
  if (begun) {
    const PortStatus ended = port_.End();
    if (status) status = ended;
  }
  if (status && outcome.noDocument) {
    SetStatus(report_text::NoDocumentsStatus());
    Show(MessageBoxKind::Information, report_text::NoDocumentsMessage());
    return false;
  }
  if (!status) {
    Show(MessageBoxKind::Plain, status.text());
    SetStatus(report_text::SummaryErrorStatus());
    return false;
  }
  SetStatus(report_text::SummaryAddedStatus(outcome.documentName));
  return true;
}

std::optional<DocumentPlace> WordReport::ActiveDocumentPlace() {
  if (!port_.Begin()) return std::nullopt;
  DocumentPlace place;
  const PortStatus found = port_.Where(&place);
  port_.End();
  if (!found) return std::nullopt;
  return place;
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
  return SendAllFiles(kind, entries, [&settings] { return std::optional(settings); });
}

bool WordReport::SendAllFiles(BlockKind kind, std::span<const TKD735FileContent* const> entries,
                              const std::function<std::optional<ReportSettings>()>& settingsNow) {
  if (entries.empty()) return true;
  // One action held over the whole run: the blocks are written together, once, at its end.
  const bool held = port_.Begin().ok();
  bool ok = true;
  for (const TKD735FileContent* entry : entries) {
    if (!entry) continue;
    // Never a block with settings the user did not set: without them the run ends here.
    const std::optional<ReportSettings> settings = settingsNow();
    if (!settings) {
      ok = false;
      break;
    }
    if (!SendSelectedFile(kind, entry, *settings)) {
      ok = false;
      break;
    }
  }
  if (!held) return ok;
  const PortStatus saved = port_.End();
  if (ok && !saved) {
    Show(MessageBoxKind::Plain, saved.text());
    SetStatus(report_text::BlockErrorStatus());
    return false;
  }
  return ok;
}

}  // namespace kd735
