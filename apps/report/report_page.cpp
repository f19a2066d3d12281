// The settings page: the template, the Word actions, the report options and the block font; and
// the sending of files from the lists.
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QStandardItemModel>
#include <QUrl>
#include <QVBoxLayout>

#include "apps/common/form_kit.h"
#include "apps/common/spin_edit.h"
#include "apps/common/status_bar.h"
#include "apps/report/main_form.h"
#include "link/link_controller.h"

namespace kd735::report_app {

namespace {

QCheckBox* Box(QWidget* parent, const char* name, const QString& text, bool checked,
               bool bold = false) {
  auto* box = new QCheckBox(text, parent);
  NameControl(box, name);
  box->setChecked(checked);
  if (bold) {
    QFont f = box->font();
    f.setBold(true);
    box->setFont(f);
  }
  return box;
}

}  // namespace

void TMainForm::BuildSettingsPage() {
  QWidget* page = CreateMSWordDocumentTabSheet;
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(6, 6, 6, 2);
  layout->setSpacing(6);

  // The template and the Word actions.
  auto* templateRow = new QHBoxLayout;
  SetTMPFileBitBtn = new QPushButton(QStringLiteral("Шаблон отчета"), page);
  NameControl(SetTMPFileBitBtn, "SetTMPFileBitBtn");
  connect(SetTMPFileBitBtn, &QPushButton::clicked, this, &TMainForm::SetTMPFileBitBtnClick);
  TMPNameEdit = new QLineEdit(page);
  NameControl(TMPNameEdit, "TMPNameEdit", QStringLiteral("Файл шаблона отчета"));
  templateRow->addWidget(SetTMPFileBitBtn);
  templateRow->addWidget(TMPNameEdit, 1);
  layout->addLayout(templateRow);

  auto* wordRow = new QHBoxLayout;
  CreateWordDocBitBtn = new QPushButton(QStringLiteral("Открыть Word и создать документ"), page);
  NameControl(CreateWordDocBitBtn, "CreateWordDocBitBtn");
  CreateWordDocBitBtn->setMinimumHeight(30);
  connect(CreateWordDocBitBtn, &QPushButton::clicked, this, &TMainForm::CreateWordDocBitBtnClick);
  CloseWordDocsBitBtn = new QPushButton(QStringLiteral("Закрыть все документы Word"), page);
  NameControl(CloseWordDocsBitBtn, "CloseWordDocsBitBtn");
  CloseWordDocsBitBtn->setMinimumHeight(30);
  connect(CloseWordDocsBitBtn, &QPushButton::clicked, this, &TMainForm::CloseWordDocsBitBtnClick);
  wordRow->addWidget(CreateWordDocBitBtn);
  wordRow->addWidget(CloseWordDocsBitBtn);
  // Which program makes the report: chosen for this run only.
  auto* engineLabel = new QLabel(QStringLiteral("Отчет в:"), page);
  WordEngineComboBox = new QComboBox(page);
  NameControl(WordEngineComboBox, "WordEngineComboBox", QStringLiteral("Программа отчета"));
  WordEngineComboBox->addItem(WordBackendName(WordBackend::kDocx), int(WordBackend::kDocx));
  WordEngineComboBox->addItem(WordBackendName(WordBackend::kWriter), int(WordBackend::kWriter));
  WordEngineComboBox->setItemData(0,
                                  QStringLiteral("Отчет пишется в файл .docx; его можно открыть "
                                                 "в программе для таких файлов"),
                                  Qt::ToolTipRole);
  engineLabel->setBuddy(WordEngineComboBox);
  wordRow->addStretch(1);
  wordRow->addWidget(engineLabel);
  wordRow->addWidget(WordEngineComboBox);
  layout->addLayout(wordRow);

  // Where the report goes, and a way to open it.
  auto* reportRow = new QHBoxLayout;
  ReportFileLabel = new QLabel(page);
  ReportFileLabel->setObjectName(QStringLiteral("ReportFileLabel"));
  ReportFileLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
  ReportFileLabel->setText(QStringLiteral("Отчет: документ еще не создан"));
  OpenReportButton = new QPushButton(ThemeIcon("document-open", Glyph::kOpen),
                                     QStringLiteral("Открыть отчет"), page);
  NameControl(OpenReportButton, "OpenReportButton");
  OpenReportButton->setToolTip(QStringLiteral("Открыть документ в программе для файлов .docx"));
  OpenReportButton->setEnabled(false);
  connect(OpenReportButton, &QPushButton::clicked, this, &TMainForm::OpenReportClick);
  OpenReportFolderButton = new QPushButton(ThemeIcon("folder-open", Glyph::kFolder),
                                           QStringLiteral("Открыть папку"), page);
  NameControl(OpenReportFolderButton, "OpenReportFolderButton");
  OpenReportFolderButton->setToolTip(QStringLiteral("Открыть папку с документом"));
  OpenReportFolderButton->setEnabled(false);
  connect(OpenReportFolderButton, &QPushButton::clicked, this, &TMainForm::OpenReportFolderClick);
  SaveReportPdfButton = new QPushButton(QStringLiteral("Сохранить отчет в PDF..."), page);
  NameControl(SaveReportPdfButton, "SaveReportPdfButton");
  connect(SaveReportPdfButton, &QPushButton::clicked, this, &TMainForm::SaveReportPdfButtonClick);
  reportRow->addWidget(ReportFileLabel, 1);
  reportRow->addWidget(OpenReportButton);
  reportRow->addWidget(OpenReportFolderButton);
  reportRow->addWidget(SaveReportPdfButton);
  layout->addLayout(reportRow);

  auto* frames = new QHBoxLayout;
  frames->setSpacing(4);

  // General settings of a new document and the block font.
  auto* general = new QGroupBox(QStringLiteral("Общие установки"), page);
  general->setObjectName(QStringLiteral("GeneralGroupBox"));
  general->setMaximumWidth(176);  // its texts are short; the block frames get the room
  auto* g = new QVBoxLayout(general);
  g->setContentsMargins(5, 4, 5, 4);
  g->setSpacing(3);
  auto* numberLabel = new QLabel(QStringLiteral("Текущий номер документа"), general);
  DocNumPBSpinEdit =
      new TPBSpinEdit(kDocumentNumberRange, 0, false, kDocumentNumberMaxChars, general);
  NameControl(DocNumPBSpinEdit, "DocNumPBSpinEdit", numberLabel->text());
  numberLabel->setBuddy(DocNumPBSpinEdit);
  g->addWidget(numberLabel);
  g->addWidget(DocNumPBSpinEdit);
  DocNumIncrementCheckBox =
      Box(general, "DocNumIncrementCheckBox", QStringLiteral("Увеличивать номер на +1"), true);
  DocNumberInsertCheckBox =
      Box(general, "DocNumberInsertCheckBox", QStringLiteral("Вставить номер документа "), true);
  DocDataInsertCheckBox =
      Box(general, "DocDataInsertCheckBox", QStringLiteral("Вставить дату в документ"), true);
  DocDevNumInsertCheckBox =
      Box(general, "DocDevNumInsertCheckBox", QStringLiteral("Вставить номер прибора"), true);
  for (QCheckBox* b : {DocNumIncrementCheckBox, DocNumberInsertCheckBox, DocDataInsertCheckBox,
                       DocDevNumInsertCheckBox})
    g->addWidget(b);
  FontBitBtn = new QPushButton(general);
  NameControl(FontBitBtn, "FontBitBtn");
  FontBitBtn->setIcon(PanelGlyph(Glyph::kFont));
  FontBitBtn->setMinimumHeight(36);
  connect(FontBitBtn, &QPushButton::clicked, this, &TMainForm::FontBitBtnClick);
  g->addWidget(FontBitBtn);
  FontNameEdit = new QLineEdit(QStringLiteral("Times New Roman"), general);
  NameControl(FontNameEdit, "FontNameEdit", QStringLiteral("Шрифт записей"));
  g->addWidget(FontNameEdit);
  auto* sizeRow = new QHBoxLayout;
  auto* sizeLabel = new QLabel(QStringLiteral("размер"), general);
  FontSizePBSpinEdit = new TPBSpinEdit(kFontSizeRange, 10, true, 2, general);
  NameControl(FontSizePBSpinEdit, "FontSizePBSpinEdit", QStringLiteral("размер шрифта"));
  sizeLabel->setBuddy(FontSizePBSpinEdit);
  sizeRow->addWidget(FontSizePBSpinEdit);
  sizeRow->addWidget(sizeLabel, 1);
  g->addLayout(sizeRow);
  FontBoldCheckBox = Box(general, "FontBoldCheckBox", QStringLiteral("жирный"), false);
  FontItalicCheckBox = Box(general, "FontItalicCheckBox", QStringLiteral("курсив"), false);
  g->addWidget(FontBoldCheckBox);
  g->addWidget(FontItalicCheckBox);
  g->addStretch(1);
  frames->addWidget(general, 4);

  // The content of the blocks, one frame per kind.
  auto blockFrame = [&](const QString& title, const char* name, const char* table,
                        TPBSpinEdit*& tableSpin, int tableDefault) {
    auto* frame = new QGroupBox(title, page);
    frame->setObjectName(QString::fromLatin1(name));
    auto* v = new QVBoxLayout(frame);
    v->setContentsMargins(5, 4, 3, 4);
    v->setSpacing(3);
    auto* line1 = new QLabel(QStringLiteral("Номер таблицы в шаблоне документа,"), frame);
    auto* line2 = new QLabel(QStringLiteral("в которую будут вставляться данные"), frame);
    line1->setWordWrap(true);
    line2->setWordWrap(true);
    tableSpin = new TPBSpinEdit(kTablePositionRange, tableDefault, true, 1, frame);
    NameControl(tableSpin, table, QStringLiteral("Номер таблицы в шаблоне документа"));
    line1->setBuddy(tableSpin);
    v->addWidget(line1);
    v->addWidget(line2);
    v->addWidget(tableSpin);
    return std::make_pair(frame, v);
  };
  auto [measureFrame, m] =
      blockFrame(QStringLiteral("Настроки записей измерений"), "MesuareGroupBox",
                 "TableMesuareNumPBSpinEdit", TableMesuareNumPBSpinEdit, 1);
  MesuareInvertColorCheckBox = Box(measureFrame, "MesuareInvertColorCheckBox",
                                   QStringLiteral("Инверсия цвета в картинке"), true, true);
  MesuareInsertDevTypeAnDNumCheckBox = Box(measureFrame, "MesuareInsertDevTypeAnDNumCheckBox",
                                           QStringLiteral("Вставить  тип, номер прибора"), false);
  MesuareInsertFileNameCheckBox =
      Box(measureFrame, "MesuareInsertFileNameCheckBox", QStringLiteral("Имя файла и номер"), true);
  MesuareInsertDateTimeCheckBox = Box(measureFrame, "MesuareInsertDateTimeCheckBox",
                                      QStringLiteral("Дата, время измерения"), true);
  MesuareInsertStateCheckBox = Box(measureFrame, "MesuareInsertStateCheckBox",
                                   QStringLiteral("Состояние измерения"), true, true);
  MesuareAscanParamsCheckBox = Box(measureFrame, "MesuareAscanParamsCheckBox",
                                   QStringLiteral("Параметры развертки (А-скан)"), false);
  MesuareHscaleParamsCheckBox = Box(measureFrame, "MesuareHscaleParamsCheckBox",
                                    QStringLiteral("Параметры шкалы (CL, Tpep)"), false);
  MesuarePEPparamsCheckBox = Box(measureFrame, "MesuarePEPparamsCheckBox",
                                 QStringLiteral("Информация о ПЭП (тип, номер)"), false);
  for (QCheckBox* b :
       {MesuareInvertColorCheckBox, MesuareInsertDevTypeAnDNumCheckBox,
        MesuareInsertFileNameCheckBox, MesuareInsertDateTimeCheckBox, MesuareInsertStateCheckBox,
        MesuareAscanParamsCheckBox, MesuareHscaleParamsCheckBox, MesuarePEPparamsCheckBox})
    m->addWidget(b);
  m->addStretch(1);
  frames->addWidget(measureFrame, 5);

  auto [bscanFrame, b] = blockFrame(QStringLiteral("Настройки записей В-сканов"), "BscanGroupBox",
                                    "TablBscanNumPBSpinEdit", TablBscanNumPBSpinEdit, 2);
  BscanInvertColorCheckBox = Box(bscanFrame, "BscanInvertColorCheckBox",
                                 QStringLiteral("Инверсия цвета в картинке"), true, true);
  BscanDevTypeAnDNumCheckBox = Box(bscanFrame, "BscanDevTypeAnDNumCheckBox",
                                   QStringLiteral("Вставить  тип, номер прибора"), false);
  BscanInsertFileNameCheckBox =
      Box(bscanFrame, "BscanInsertFileNameCheckBox", QStringLiteral("Имя файла и номер"), true);
  BscanInsertDateTimeCheckBox =
      Box(bscanFrame, "BscanInsertDateTimeCheckBox", QStringLiteral("Дата, время В-скана"), true);
  InsertBscanVelRecCheckBox = Box(bscanFrame, "InsertBscanVelRecCheckBox",
                                  QStringLiteral("Скорость записи В-скана"), true, true);
  BscanAscanParamsCheckBox = Box(bscanFrame, "BscanAscanParamsCheckBox",
                                 QStringLiteral("Параметры развертки (А-скан)"), false);
  BscanHscaleParamsCheckBox = Box(bscanFrame, "BscanHscaleParamsCheckBox",
                                  QStringLiteral("Параметры шкалы (CL, Tpep)"), false);
  BscanPEPparamsCheckBox = Box(bscanFrame, "BscanPEPparamsCheckBox",
                               QStringLiteral("Информация о ПЭП (тип, номер)"), false);
  for (QCheckBox* c :
       {BscanInvertColorCheckBox, BscanDevTypeAnDNumCheckBox, BscanInsertFileNameCheckBox,
        BscanInsertDateTimeCheckBox, InsertBscanVelRecCheckBox, BscanAscanParamsCheckBox,
        BscanHscaleParamsCheckBox, BscanPEPparamsCheckBox})
    b->addWidget(c);
  b->addStretch(1);
  frames->addWidget(bscanFrame, 5);
  layout->addLayout(frames, 1);

  ReportStatusBar = new TStatusBar({{200, Qt::AlignLeft, QStringLiteral("Сообщение")}}, page);
  NameControl(ReportStatusBar, "ReportStatusBar", QStringLiteral("Состояние отчета"));
  layout->addWidget(ReportStatusBar);
}

ReportSettings TMainForm::Settings() const {
  ReportSettings s;
  s.documentNumber = DocNumPBSpinEdit->Value();
  s.incrementNumber = DocNumIncrementCheckBox->isChecked();
  s.insertNumber = DocNumberInsertCheckBox->isChecked();
  s.insertDate = DocDataInsertCheckBox->isChecked();
  s.insertDeviceNumber = DocDevNumInsertCheckBox->isChecked();
  s.font.name = FontNameEdit->text();
  s.font.size = FontSizePBSpinEdit->Value();
  s.font.bold = FontBoldCheckBox->isChecked();
  s.font.italic = FontItalicCheckBox->isChecked();
  s.measure.tablePosition = TableMesuareNumPBSpinEdit->Value();
  s.measure.invertPicture = MesuareInvertColorCheckBox->isChecked();
  s.measure.instrumentLine = MesuareInsertDevTypeAnDNumCheckBox->isChecked();
  s.measure.fileNameLine = MesuareInsertFileNameCheckBox->isChecked();
  s.measure.dateLine = MesuareInsertDateTimeCheckBox->isChecked();
  s.measure.stateLine = MesuareInsertStateCheckBox->isChecked();
  s.measure.sweepLines = MesuareAscanParamsCheckBox->isChecked();
  s.measure.scaleLines = MesuareHscaleParamsCheckBox->isChecked();
  s.measure.probeLines = MesuarePEPparamsCheckBox->isChecked();
  s.bscan.tablePosition = TablBscanNumPBSpinEdit->Value();
  s.bscan.invertPicture = BscanInvertColorCheckBox->isChecked();
  s.bscan.instrumentLine = BscanDevTypeAnDNumCheckBox->isChecked();
  s.bscan.fileNameLine = BscanInsertFileNameCheckBox->isChecked();
  s.bscan.dateLine = BscanInsertDateTimeCheckBox->isChecked();
  s.bscan.speedLine = InsertBscanVelRecCheckBox->isChecked();
  s.bscan.sweepLines = BscanAscanParamsCheckBox->isChecked();
  s.bscan.scaleLines = BscanHscaleParamsCheckBox->isChecked();
  s.bscan.probeLines = BscanPEPparamsCheckBox->isChecked();
  return s;
}

void TMainForm::SetTMPFileBitBtnClick() {
  QFileDialog dialog(this, QStringLiteral("Указать файл шаблона отчета"),
                     environment_.dialogFolder);
  dialog.setObjectName(QStringLiteral("OpenSampleDialog"));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilters({QStringLiteral("Документы Word (*.docx *.doc)"),
                         QStringLiteral("*.docx (*.docx)"), QStringLiteral("*.doc (*.doc)")});
  dialog.setDefaultSuffix(QStringLiteral("docx"));
  dialog.selectFile(QStringLiteral("TMP.DOC"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  TMPNameEdit->setText(QDir::toNativeSeparators(dialog.selectedFiles().constFirst()));
}

void TMainForm::CreateWordDocBitBtnClick() {
  engineSettled_ = true;
  CreateWordDocBitBtn->setEnabled(false);
  std::optional<QString> firstInstrument;
  if (Link() && !Link()->Instruments().isEmpty()) firstInstrument = Link()->Instruments().first();
  session_->CreateDocument(QDir::fromNativeSeparators(TMPNameEdit->text()), Settings(),
                           firstInstrument, [this](const ReportSession::Created& created) {
                             DocNumPBSpinEdit->setValue(created.documentNumber);
                             if (created.ok) {
                               reportMade_ = true;
                               ShowReportFile(created.place.file);
                             }
                             CreateWordDocBitBtn->setEnabled(true);
                             BringToFront();
                           });
}

void TMainForm::CloseWordDocsBitBtnClick() {
  engineSettled_ = true;
  CloseWordDocsBitBtn->setEnabled(false);
  session_->CloseDocuments([this](bool) {
    CloseWordDocsBitBtn->setEnabled(true);
    BringToFront();
  });
}

void TMainForm::FontBitBtnClick() {
  // Opens with the font it returned last time, not with the options.
  if (lastChosenFont_.family().isEmpty())
    lastChosenFont_ = QFont(QStringLiteral("MS Sans Serif"), 8);
  QFontDialog dialog(lastChosenFont_, this);
  dialog.setObjectName(QStringLiteral("FontDialog"));
  if (dialog.exec() != QDialog::Accepted) return;
  lastChosenFont_ = dialog.selectedFont();
  const BlockFont chosen = BlockFontFromChoice(lastChosenFont_);
  FontNameEdit->setText(chosen.name);
  FontSizePBSpinEdit->setValue(chosen.size);
  FontBoldCheckBox->setChecked(chosen.bold);
  FontItalicCheckBox->setChecked(chosen.italic);
}

void TMainForm::WordEngineComboBoxChange(int index) {
  const auto chosen = WordBackend(WordEngineComboBox->itemData(index).toInt());
  if (chosen == backend_) return;
  if (PendingReportActions() > 0) {
    // The engine at work finishes first.
    const QSignalBlocker quiet(WordEngineComboBox);
    WordEngineComboBox->setCurrentIndex(WordEngineComboBox->findData(int(backend_)));
    ShowMessageBox(this, BoxKind::kInformation,
                   QStringLiteral("Дождитесь окончания работы с отчетом."));
    return;
  }
  engineSettled_ = true;
  MakeSession(chosen);
  ShowReportFile(QString());
  ReportFileLabel->setText(QStringLiteral("Отчет: документ еще не создан"));
}

void TMainForm::ShowReportFile(const QString& path) {
  reportPath_ = path;
  const bool file = !path.isEmpty();
  ReportFileLabel->setText(file ? QStringLiteral("Отчет: ") + QDir::toNativeSeparators(path)
                                : QStringLiteral("Отчет: документ открыт в ") +
                                      WordBackendName(backend_));
  ReportFileLabel->setToolTip(QDir::toNativeSeparators(path));
  OpenReportButton->setEnabled(file);
  OpenReportFolderButton->setEnabled(file);
  UpdatePdfButton();
}

void TMainForm::UpdatePdfButton() {
  // Writer stores PDF itself; the .docx engine needs LibreOffice for it.
  QString why;
  if (backend_ == WordBackend::kDocx && !QFileInfo(environment_.soffice).isExecutable())
    why = QStringLiteral(
        "Для сохранения отчета в PDF нужен LibreOffice (программа soffice), но "
        "он не установлен.");
  else if (!reportMade_)
    why = QStringLiteral("Сначала создайте документ.");
  SaveReportPdfButton->setEnabled(why.isEmpty());
  const QString tip = why.isEmpty() ? QStringLiteral("Сохранить копию отчета в формате PDF") : why;
  SaveReportPdfButton->setToolTip(tip);
  SaveReportPdfButton->setAccessibleDescription(tip);
}

void TMainForm::SaveReportPdfButtonClick() {
  const QString folder =
      reportPath_.isEmpty() ? environment_.dialogFolder : QFileInfo(reportPath_).absolutePath();
  QFileDialog dialog(this, QStringLiteral("Сохранить отчет в PDF"), folder);
  dialog.setObjectName(QStringLiteral("SavePdfDialog"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setNameFilters({QStringLiteral("Документы PDF (*.pdf)")});
  dialog.setDefaultSuffix(QStringLiteral("pdf"));
  dialog.selectFile(reportPath_.isEmpty()
                        ? QStringLiteral("Отчет.pdf")
                        : QFileInfo(reportPath_).completeBaseName() + QStringLiteral(".pdf"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  QString path = dialog.selectedFiles().constFirst();
  if (QFileInfo(path).suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) != 0)
    path += QStringLiteral(".pdf");
  SaveReportPdfButton->setEnabled(false);
  ReportStatusBar->SetPanelText(0, QStringLiteral("Отчет сохраняется в PDF..."));
  session_->StoreCopy(path, [this, path](const QString& error) {
    UpdatePdfButton();
    if (!error.isEmpty()) {
      ReportStatusBar->SetPanelText(0, QStringLiteral("Отчет не сохранен в PDF."));
      ShowMessageBox(this, BoxKind::kError, error);
      return;
    }
    ReportStatusBar->SetPanelText(
        0, QStringLiteral("Отчет сохранен в PDF: ") + QDir::toNativeSeparators(path));
  });
}

void TMainForm::OpenReportClick() {
  if (reportPath_.isEmpty()) return;
  if (!environment_.openPath(reportPath_))
    ShowMessageBox(this, BoxKind::kError,
                   QStringLiteral("Не удается открыть документ\r%1\rприложением по умолчанию.")
                       .arg(QDir::toNativeSeparators(reportPath_)));
}

void TMainForm::OpenReportFolderClick() {
  if (reportPath_.isEmpty()) return;
  const QString folder = QFileInfo(reportPath_).absolutePath();
  if (!environment_.openPath(folder))
    ShowMessageBox(
        this, BoxKind::kError,
        QStringLiteral("Не удается открыть папку\r%1").arg(QDir::toNativeSeparators(folder)));
}

// Sending from the lists: the list the menu was opened on.

void TMainForm::GetDataToMSWordClick() { SendFromList(false); }

void TMainForm::MSWord1Click() { SendFromList(true); }

void TMainForm::SendFromList(bool all) {
  const ListKind kind = currentList_;
  FileListModel& list = List(kind);
  std::vector<ReportSession::Record> records;
  if (all) {
    for (int row = 0; row < list.Count(); ++row)
      if (const TKD735FileContent* c = list.Content(row)) records.push_back(c->record);
    if (list.Count() == 0) return;
  } else {
    const int row = SelectedRow(kind);
    const TKD735FileContent* c = row >= 0 ? list.Content(row) : nullptr;
    if (!c) return;
    records.push_back(c->record);
  }
  if (records.empty()) return;
  engineSettled_ = true;
  QListView* view = ListView(kind);
  if (all) view->setEnabled(false);  // until the last block is written or the run stops
  session_->SendFiles(
      kind == ListKind::Measure ? BlockKind::Measure : BlockKind::Bscan, std::move(records),
      [this] { return Settings(); },
      [this, view, all](bool) {
        if (all) view->setEnabled(true);
        BringToFront();
      });
}

}  // namespace kd735::report_app
