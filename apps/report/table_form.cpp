#include "apps/report/table_form.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QShortcut>
#include <QSortFilterProxyModel>
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>

#include "apps/common/form_kit.h"
#include "apps/report/main_form.h"
#include "files/atomic_file.h"
#include "files/survey_export.h"

namespace kd735::report_app {

namespace {

SurveyKind KindOf(ListKind kind) {
  return kind == ListKind::Measure ? SurveyKind::Measure : SurveyKind::Bscan;
}

QString ThicknessOnlyReason() {
  return QStringLiteral(
      "Статистика считается по толщинам измерений: сводка и минимально допустимая толщина есть "
      "только у таблицы файлов измерений.");
}

}  // namespace

TTableForm::TTableForm(ListKind kind, FileListModel& list, TMainForm& owner)
    : QWidget(&owner, Qt::Window), kind_(kind), list_(list), owner_(owner), locale_(UserLocale()) {
  setObjectName(kind == ListKind::Measure ? QStringLiteral("MesuareTableForm")
                                          : QStringLiteral("BscanTableForm"));
  setWindowTitle(QStringLiteral("Таблица измерений КД735"));
  const QIcon mark = style()->standardIcon(QStyle::SP_MessageBoxWarning);
  model_.SetBelowMinimumIcon(mark);

  auto* layout = new QVBoxLayout(this);
  ListNameLabel = new QLabel(
      kind == ListKind::Measure ? QStringLiteral("ИЗМЕРЕНИЯ") : QStringLiteral("В-СКАНЫ"), this);
  ListNameLabel->setObjectName(QStringLiteral("ListNameLabel"));
  QFont bold = ListNameLabel->font();
  bold.setBold(true);
  ListNameLabel->setFont(bold);
  layout->addWidget(ListNameLabel);

  sorted_ = new QSortFilterProxyModel(this);
  sorted_->setSourceModel(&model_);
  sorted_->setSortRole(SurveyTableModel::kSortRole);
  sorted_->setSortLocaleAware(true);
  SurveyTableView = new QTableView(this);
  NameControl(SurveyTableView, "SurveyTableView",
              kind == ListKind::Measure ? QStringLiteral("Таблица файлов измерений")
                                        : QStringLiteral("Таблица файлов В-сканов"));
  SurveyTableView->setModel(sorted_);
  SurveyTableView->setSelectionBehavior(QAbstractItemView::SelectRows);
  SurveyTableView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  SurveyTableView->setWordWrap(false);
  SurveyTableView->setTabKeyNavigation(false);  // Tab goes on to the next control, not cell
  SurveyTableView->verticalHeader()->hide();
  // Rows as high as a line of text (the mark's icon is drawn at the text's size).
  const int line = fontMetrics().height();
  SurveyTableView->verticalHeader()->setDefaultSectionSize(line + 6);
  SurveyTableView->setIconSize(QSize(line, line));
  SurveyTableView->horizontalHeader()->setStretchLastSection(true);
  // The list's order at first: the running numbers ascending.
  SurveyTableView->horizontalHeader()->setSortIndicator(0, Qt::AscendingOrder);
  SurveyTableView->setSortingEnabled(true);
  layout->addWidget(SurveyTableView, 1);

  StatisticsGrid = new QGridLayout;
  StatisticsGrid->setHorizontalSpacing(12);
  StatisticsGrid->setVerticalSpacing(2);
  StatisticsGrid->setColumnStretch(1, 1);
  layout->addLayout(StatisticsGrid);

  auto* minimumRow = new QHBoxLayout;
  MinimumThicknessLabel = new QLabel(QStringLiteral("&Минимально допустимая толщина, мм"), this);
  MinimumThicknessLabel->setObjectName(QStringLiteral("MinimumThicknessLabel"));
  MinimumThicknessEdit = new QLineEdit(this);
  NameControl(MinimumThicknessEdit, "MinimumThicknessEdit",
              QStringLiteral("Минимально допустимая толщина, мм"));
  MinimumThicknessEdit->setPlaceholderText(QStringLiteral("не задана"));
  MinimumThicknessEdit->setClearButtonEnabled(true);
  // What a record can hold: up to eight digits, two decimals after a point or a comma.
  MinimumThicknessEdit->setValidator(new QRegularExpressionValidator(
      QRegularExpression(QStringLiteral("\\d{0,8}([.,]\\d{0,2})?")), MinimumThicknessEdit));
  MinimumThicknessEdit->setMaximumWidth(fontMetrics().horizontalAdvance(QLatin1Char('0')) * 14);
  MinimumThicknessLabel->setBuddy(MinimumThicknessEdit);
  connect(MinimumThicknessEdit, &QLineEdit::textChanged, this,
          &TTableForm::MinimumThicknessEditChange);
  minimumRow->addWidget(MinimumThicknessLabel);
  minimumRow->addWidget(MinimumThicknessEdit);
  minimumRow->addStretch(1);
  layout->addLayout(minimumRow);

  TableNoteLabel = new QLabel(this);
  TableNoteLabel->setObjectName(QStringLiteral("TableNoteLabel"));
  TableNoteLabel->setWordWrap(true);
  layout->addWidget(TableNoteLabel);

  auto* buttons = new QHBoxLayout;
  SaveCsvButton = new QPushButton(QStringLiteral("&Сохранить CSV..."), this);
  NameControl(SaveCsvButton, "SaveCsvButton", QStringLiteral("Сохранить CSV..."));
  SaveCsvButton->setIcon(ThemeIcon("document-save-as", Glyph::kSave));
  connect(SaveCsvButton, &QPushButton::clicked, this, &TTableForm::SaveCsvButtonClick);
  CopyTableButton = new QPushButton(QStringLiteral("&Копировать"), this);
  NameControl(CopyTableButton, "CopyTableButton", QStringLiteral("Копировать"));
  CopyTableButton->setIcon(ThemeIcon("edit-copy", Glyph::kCopy));
  connect(CopyTableButton, &QPushButton::clicked, this, &TTableForm::CopyTableButtonClick);
  SendSummaryButton = new QPushButton(QStringLiteral("&Отправить сводку в документ"), this);
  NameControl(SendSummaryButton, "SendSummaryButton",
              QStringLiteral("Отправить сводку в документ"));
  SendSummaryButton->setIcon(ThemeIcon("document-send", Glyph::kSendDocument));
  connect(SendSummaryButton, &QPushButton::clicked, this, &TTableForm::SendSummaryButtonClick);
  buttons->addWidget(SaveCsvButton);
  buttons->addWidget(CopyTableButton);
  buttons->addStretch(1);
  buttons->addWidget(SendSummaryButton);
  layout->addLayout(buttons);

  if (kind_ != ListKind::Measure) {
    // Off, not hidden: the reason stays where the controls are looked for.
    for (QWidget* w : std::initializer_list<QWidget*>{MinimumThicknessLabel, MinimumThicknessEdit,
                                                      SendSummaryButton}) {
      w->setEnabled(false);
      w->setToolTip(ThicknessOnlyReason());
      w->setAccessibleDescription(ThicknessOnlyReason());
    }
  } else if (list_.MinimumAllowed()) {
    MinimumThicknessEdit->setText(ThicknessText(*list_.MinimumAllowed(), locale_));
  }

  // Esc closes the window, as it does a dialog.
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, &QWidget::close);

  // The list as it changes; a hidden window catches up when it is shown again.
  auto follows = [this](void (SurveyTableModel::*change)(int, int, SurveyTable)) {
    return [this, change](const QModelIndex&, int first, int last) {
      if (!isVisible()) {
        stale_ = true;
        return;
      }
      (model_.*change)(first, last, MakeTable());
      ShowStatistics();
    };
  };
  connect(&list_, &QAbstractItemModel::rowsInserted, this,
          follows(&SurveyTableModel::RowsInserted));
  connect(&list_, &QAbstractItemModel::rowsRemoved, this, follows(&SurveyTableModel::RowsRemoved));
  connect(&list_, &QAbstractItemModel::modelReset, this, &TTableForm::Follow);
  connect(&list_, &QAbstractItemModel::layoutChanged, this, &TTableForm::Follow);
  connect(&list_, &QAbstractItemModel::dataChanged, this, &TTableForm::Follow);
  connect(&list_, &QAbstractItemModel::rowsMoved, this, &TTableForm::Follow);

  model_.Changed(MakeTable());
  SurveyTableView->resizeColumnsToContents();
  ShowStatistics();
  resize(820, 600);
}

SurveyTable TTableForm::MakeTable() const {
  std::vector<SurveyEntry> entries;
  entries.reserve(std::size_t(list_.Count()));
  for (int row = 0; row < list_.Count(); ++row) {
    const FileListEntry* e = list_.Entry(row);
    entries.push_back(SurveyEntry{e->text, e->content.get(), QString(), e->incomplete});
  }
  const std::optional<std::int64_t> minimum =
      kind_ == ListKind::Measure ? list_.MinimumAllowed() : std::nullopt;
  return MakeSurveyTable(KindOf(kind_), entries, minimum, locale_);
}

void TTableForm::Follow() {
  if (!isVisible()) {
    stale_ = true;
    return;
  }
  model_.Changed(MakeTable());
  ShowStatistics();
}

void TTableForm::showEvent(QShowEvent* event) {
  if (stale_) {
    stale_ = false;
    model_.Changed(MakeTable());
    ShowStatistics();
  }
  QWidget::showEvent(event);
}

SurveyTable TTableForm::TableAsShown() const {
  const SurveyTable& table = model_.Table();
  SurveyTable shown = table;
  shown.rows.clear();
  shown.rows.reserve(table.rows.size());
  for (int r = 0; r < sorted_->rowCount(); ++r)
    shown.rows.push_back(table.rows[std::size_t(sorted_->mapToSource(sorted_->index(r, 0)).row())]);
  // The statistics name rows by their place in the list's order: they stay with the list's table.
  return shown;
}

void TTableForm::ShowStatistics() {
  const SurveyTable& table = model_.Table();
  QList<SurveySummaryLine> lines = SurveySummary(table);
  if (kind_ != ListKind::Measure) lines = lines.mid(0, 1);  // "Файлов": B-scans hold no reading
  // The grid is rebuilt only when its lines change in number (a minimum set or cleared).
  if (StatisticsGrid->count() != 2 * lines.size()) {
    while (QLayoutItem* item = StatisticsGrid->takeAt(0)) {
      delete item->widget();
      delete item;
    }
    for (int i = 0; i < lines.size(); ++i) {
      auto* label = new QLabel(this);
      label->setObjectName(QStringLiteral("StatisticsLabel%1").arg(i));
      auto* value = new QLabel(this);
      value->setObjectName(QStringLiteral("StatisticsValue%1").arg(i));
      value->setTextInteractionFlags(Qt::TextSelectableByMouse);
      value->setTextFormat(Qt::PlainText);
      label->setTextFormat(Qt::PlainText);
      StatisticsGrid->addWidget(label, i, 0);
      StatisticsGrid->addWidget(value, i, 1);
    }
  }
  for (int i = 0; i < lines.size(); ++i) {
    auto* label = qobject_cast<QLabel*>(StatisticsGrid->itemAtPosition(i, 0)->widget());
    auto* value = qobject_cast<QLabel*>(StatisticsGrid->itemAtPosition(i, 1)->widget());
    label->setText(lines[i].label + QLatin1Char(':'));
    value->setText(lines[i].value);
    value->setAccessibleName(lines[i].label);
    // The line of the readings below the minimum in the rows' red.
    const bool below = table.statistics.minimumAllowed && i == lines.size() - 1 &&
                       !table.statistics.belowRows.isEmpty();
    value->setStyleSheet(below ? QStringLiteral("color: #b00000; background: #ffe0e0;")
                               : QString());
  }
  UpdateButtons();
}

void TTableForm::UpdateButtons() {
  const bool rows = model_.Table().RowCount() > 0;
  SaveCsvButton->setEnabled(rows);
  CopyTableButton->setEnabled(rows);
  if (kind_ == ListKind::Measure) {
    SendSummaryButton->setEnabled(rows && !reading_ && !sending_);
    const QString why = reading_ ? QStringLiteral("Дождитесь окончания чтения файлов из прибора.")
                        : !rows  ? QStringLiteral("В списке нет файлов.")
                                 : QString();
    SendSummaryButton->setToolTip(why);
    SendSummaryButton->setAccessibleDescription(why);
  }
  ShowNote();
}

void TTableForm::ShowNote() {
  QString note;
  if (reading_)
    note = QStringLiteral("Идет чтение файлов из прибора: таблица пополняется.");
  else if (kind_ != ListKind::Measure)
    note = ThicknessOnlyReason();
  else
    note = sendResult_;
  TableNoteLabel->setText(note);
  TableNoteLabel->setVisible(!note.isEmpty());
}

void TTableForm::SetReading(bool reading) {
  if (reading == reading_) return;
  reading_ = reading;
  UpdateButtons();
}

void TTableForm::MinimumThicknessEditChange() {
  if (kind_ != ListKind::Measure) return;
  const QString text = MinimumThicknessEdit->text().trimmed();
  // Half typed ("4,") or empty: no minimum until the number is whole.
  list_.SetMinimumAllowed(text.isEmpty() ? std::nullopt : ParseThicknessMm(text));
  // A list with entries tells of the change itself.
  if (list_.Count() == 0) Follow();
}

void TTableForm::SaveCsvButtonClick() {
  const SurveyTable shown = TableAsShown();
  if (shown.RowCount() == 0) return;
  QFileDialog dialog(this, QStringLiteral("Сохранить таблицу в CSV"), owner_.DialogFolder());
  dialog.setObjectName(QStringLiteral("CsvSaveDialog"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setNameFilters({QStringLiteral("Таблицы CSV (*.csv)"), QStringLiteral("Все файлы (*)")});
  dialog.setDefaultSuffix(QStringLiteral("csv"));
  dialog.selectFile(kind_ == ListKind::Measure ? QStringLiteral("Измерения.csv")
                                               : QStringLiteral("В-сканы.csv"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  const QString path = dialog.selectedFiles().constFirst();
  // With the byte order mark, so that a spreadsheet reads the Cyrillic texts as UTF-8.
  const QByteArray csv = QByteArray(kUtf8Bom) + SurveyCsv(shown, DefaultCsvSeparator(shown.locale));
  const FileWriteResult written = WriteFileAtomically(path, csv);
  if (!written)
    ShowMessageBox(this, BoxKind::kError,
                   QStringLiteral("Таблица не сохранена в файл\r") + written.message());
}

void TTableForm::CopyTableButtonClick() {
  const SurveyTable shown = TableAsShown();
  if (shown.RowCount() == 0) return;
  auto* mime = new QMimeData;
  mime->setText(SurveyTsv(shown));
  mime->setHtml(SurveyHtml(shown));
  QApplication::clipboard()->setMimeData(mime);
}

void TTableForm::SendSummaryButtonClick() {
  if (kind_ != ListKind::Measure || reading_ || sending_ || model_.Table().RowCount() == 0) return;
  SummaryTable summary;
  summary.heading = QStringLiteral("Сводка измерений");
  for (const SurveySummaryLine& line : SurveySummary(model_.Table()))
    summary.rows.emplace_back(line.label, line.value);
  summary.font = owner_.Settings().Clamped().font;
  sending_ = true;
  sendResult_.clear();
  UpdateButtons();
  QPointer<TTableForm> self(this);
  owner_.SendSummary(std::move(summary), [self](bool) {
    if (!self) return;
    self->sending_ = false;
    // The report's status, also here, where the user pressed the button.
    self->sendResult_ = self->owner_.ReportStatusText();
    self->UpdateButtons();
  });
}

}  // namespace kd735::report_app
