// The page of the instrument's files: reading them, the two lists with their local files, and
// the viewer of the selected file.
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include "apps/common/form_kit.h"
#include "apps/common/picture_view.h"
#include "apps/report/main_form.h"
#include "apps/report/table_form.h"
#include "files/bitmap_file.h"
#include "files/description_export.h"
#include "files/instrument_entry.h"
#include "files/picture.h"

namespace kd735::report_app {

namespace {

// "*.KDMesuare|*.KDMesuare|*.*|*.*" as the file dialog's filters; "*.*" stands for every file.
QStringList DialogFilters(const QString& pairs) {
  const QStringList parts = pairs.split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString mask = parts[i + 1] == QLatin1String("*.*") ? QStringLiteral("*") : parts[i + 1];
    filters << QStringLiteral("%1 (%2)").arg(parts[i], mask);
  }
  return filters;
}

ListKind Other(ListKind kind) {
  return kind == ListKind::Measure ? ListKind::Bscan : ListKind::Measure;
}

}  // namespace

QWidget* TMainForm::BuildListColumn(FileSide side) {
  const bool measure = side == FileSide::kMeasure;
  auto* column = new QWidget(TxDataToMSWordTabSheet);
  auto* layout = new QVBoxLayout(column);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(4);

  auto* read = new QPushButton(column);
  NameControl(read, measure ? "ReadMesuareFilesBitBtn" : "ReadBscanBitBtn");
  read->setMinimumHeight(36);
  connect(read, &QPushButton::clicked, this, [this, side] { ReadMesuareFilesBitBtnClick(side); });
  auto* abort = new QToolButton(column);
  NameControl(abort, measure ? "ReadBreakSpeedButton" : "SpeedButton1", QStringLiteral("Прервать"));
  abort->setToolTip(QStringLiteral("Прервать"));
  abort->setIcon(PanelGlyph(Glyph::kStop));
  abort->setFixedSize(25, 36);
  connect(abort, &QToolButton::clicked, this, &TMainForm::ReadBreakSpeedButtonClick);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(read, 1);
  buttons->addWidget(abort);
  layout->addLayout(buttons);

  auto* gauge = new QProgressBar(column);
  NameControl(gauge, measure ? "ReadMasuareGauge" : "ReadBscanGauge",
              measure ? QStringLiteral("Чтение файлов измерений")
                      : QStringLiteral("Чтение файлов В-сканов"));
  gauge->setRange(0, 999);
  gauge->setValue(0);
  gauge->setTextVisible(true);
  layout->addWidget(gauge);

  auto* label = new QLabel(column);
  label->setObjectName(measure ? QStringLiteral("MesuareLabel") : QStringLiteral("BscanLabel"));
  layout->addWidget(label);

  auto* list = new QListView(column);
  const ListKind kind = measure ? ListKind::Measure : ListKind::Bscan;
  NameControl(list, measure ? "MesuareListBox" : "BScanListBox",
              measure ? QStringLiteral("Файлы измерений") : QStringLiteral("Файлы В-сканов"));
  list->setModel(&List(kind));
  // The mark of a reading below the minimum the table window sets.
  List(kind).SetBelowMinimumIcon(style()->standardIcon(QStyle::SP_MessageBoxWarning));
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->setContextMenuPolicy(Qt::CustomContextMenu);
  list->setAcceptDrops(true);  // files from the file manager; the filter below takes them
  list->setDragDropMode(QAbstractItemView::DropOnly);
  list->installEventFilter(this);
  list->viewport()->installEventFilter(this);
  connect(list, &QWidget::customContextMenuRequested, this,
          [this, kind](const QPoint& at) { ListPopupMenuPopup(kind, at); });
  // Shown on a click and whenever the selection moves by keyboard.
  connect(list, &QAbstractItemView::clicked, this, [this, kind] { MesuareListBoxClick(kind); });
  connect(list->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this, kind] { MesuareListBoxClick(kind); });
  layout->addWidget(list, 1);

  if (measure) {
    ReadMesuareFilesBitBtn = read;
    ReadBreakSpeedButton = abort;
    ReadMasuareGauge = gauge;
    MesuareLabel = label;
    MesuareListBox = list;
  } else {
    ReadBscanBitBtn = read;
    SpeedButton1 = abort;
    ReadBscanGauge = gauge;
    BscanLabel = label;
    BScanListBox = list;
  }
  return column;
}

void TMainForm::BuildFilesPage() {
  auto* page = new QHBoxLayout(TxDataToMSWordTabSheet);
  page->setContentsMargins(6, 6, 6, 6);
  page->setSpacing(8);

  auto* lists = new QVBoxLayout;
  auto* columns = new QHBoxLayout;
  columns->addWidget(BuildListColumn(FileSide::kMeasure), 1);
  columns->addWidget(BuildListColumn(FileSide::kBscan), 1);
  lists->addLayout(columns, 1);
  auto* hint =
      new QLabel(QStringLiteral("пользуйтесь выпадающим меню (вызывается правой кнопкой мыши)"),
                 TxDataToMSWordTabSheet);
  hint->setObjectName(QStringLiteral("ListHintLabel"));
  hint->setWordWrap(true);
  lists->addWidget(hint);
  page->addLayout(lists, 3);

  auto* viewer = new QVBoxLayout;
  auto* heading = new QLabel(QStringLiteral("Содержание выбранного файла"), TxDataToMSWordTabSheet);
  heading->setObjectName(QStringLiteral("RichEditLabel"));
  viewer->addWidget(heading);
  RichEdit = new QTextEdit(TxDataToMSWordTabSheet);
  NameControl(RichEdit, "RichEdit", QStringLiteral("Содержание выбранного файла"));
  RichEdit->setReadOnly(true);
  RichEdit->setFont(PageFont());
  RichEdit->setContextMenuPolicy(Qt::CustomContextMenu);
  MakeDocumentPage(RichEdit);  // its black and blue lines stay readable under a dark palette
  heading->setBuddy(RichEdit);
  viewer->addWidget(RichEdit, 1);
  auto* pictureRow = new QHBoxLayout;
  ViewFileImage = new TPictureView(ScreenGeometry{1, kPictureMargin, kPictureWidth, kPictureHeight},
                                   TxDataToMSWordTabSheet);
  NameControl(ViewFileImage, "ViewFileImage", QStringLiteral("Картинка выбранного файла"));
  ViewFileImage->setContextMenuPolicy(Qt::CustomContextMenu);
  pictureRow->addWidget(ViewFileImage);
  ImageInvColorCheckBox = new QCheckBox(QStringLiteral("Инверсия цветов"), TxDataToMSWordTabSheet);
  NameControl(ImageInvColorCheckBox, "ImageInvColorCheckBox");
  connect(ImageInvColorCheckBox, &QCheckBox::toggled, this, &TMainForm::ImageInvColorCheckBoxClick);
  pictureRow->addWidget(ImageInvColorCheckBox, 1, Qt::AlignTop);
  viewer->addLayout(pictureRow);
  page->addLayout(viewer, 2);
}

void TMainForm::BuildMenus() {
  ListPopupMenu = new QMenu(this);
  ListPopupMenu->setObjectName(QStringLiteral("ListPopupMenu"));
  auto add = [this](const char* name, const QString& text, const char* theme, Glyph glyph,
                    void (TMainForm::*handler)()) {
    QAction* a = ListPopupMenu->addAction(ThemeIcon(theme, glyph), text);
    a->setObjectName(QString::fromLatin1(name));
    connect(a, &QAction::triggered, this, handler);
    return a;
  };
  FileTypeItem = ListPopupMenu->addAction(QStringLiteral("Тип файла"));
  FileTypeItem->setObjectName(QStringLiteral("FileTypeItem"));
  ListPopupMenu->setDefaultAction(FileTypeItem);
  ListPopupMenu->addSeparator();
  GetDataToMSWord = add("GetDataToMSWord", QStringLiteral("Отправить файл в MS Word"),
                        "document-send", Glyph::kSendDocument, &TMainForm::GetDataToMSWordClick);
  MSWord1 = add("MSWord1", QStringLiteral("Отправить ВСЕ файлы в MS Word"), "mail-send",
                Glyph::kSendAll, &TMainForm::MSWord1Click);
  ListPopupMenu->addSeparator();
  DeleteFileFromList = add("DeleteFileFromList", QStringLiteral("Удалить файл из списка"),
                           "edit-delete", Glyph::kDelete, &TMainForm::DeleteFileFromListClick);
  ClearAllOfListBox = add("ClearAllOfListBox", QStringLiteral("Очистить весь список"),
                          "edit-clear-all", Glyph::kClearList, &TMainForm::ClearAllOfListBoxClick);
  ListPopupMenu->addSeparator();
  LoadFileToList = add("LoadFileToList", QStringLiteral("Загрузить файл"), "document-open",
                       Glyph::kOpen, &TMainForm::LoadFileToListClick);
  SaveFileToCatalogPC = add("SaveFileToCatalogPC", QStringLiteral("Сохранить файл"),
                            "document-save", Glyph::kSave, &TMainForm::SaveFileToCatalogPCClick);
  ListPopupMenu->addSeparator();
  SurveyTableItem = ListPopupMenu->addAction(
      QIcon::fromTheme(QStringLiteral("x-office-spreadsheet"),
                       style()->standardIcon(QStyle::SP_FileDialogDetailedView)),
      QStringLiteral("Таблица измерений..."));
  SurveyTableItem->setObjectName(QStringLiteral("SurveyTableItem"));
  connect(SurveyTableItem, &QAction::triggered, this, &TMainForm::SurveyTableItemClick);

  RichEditPopupMenu = new QMenu(this);
  RichEditPopupMenu->setObjectName(QStringLiteral("RichEditPopupMenu"));
  QAction* copyText = RichEditPopupMenu->addAction(QStringLiteral("Копировать в буфер обмена"));
  copyText->setObjectName(QStringLiteral("CopyRichEditToClipboard"));
  connect(copyText, &QAction::triggered, this, &TMainForm::CopyRichEditToClipboardClick);
  QAction* saveText = RichEditPopupMenu->addAction(QStringLiteral("Сохранить в файл *.rtf"));
  saveText->setObjectName(QStringLiteral("SaveToRTFFile"));
  connect(saveText, &QAction::triggered, this, &TMainForm::SaveToRTFFileClick);
  connect(RichEdit, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { RichEditPopupMenu->popup(RichEdit->mapToGlobal(at)); });

  FBitMapPopupMenu = new QMenu(this);
  FBitMapPopupMenu->setObjectName(QStringLiteral("FBitMapPopupMenu"));
  QAction* copyPicture = FBitMapPopupMenu->addAction(QStringLiteral("Копировать в буфер обмена"));
  copyPicture->setObjectName(QStringLiteral("CopyBitMapToClipBoar_MenuItem"));
  connect(copyPicture, &QAction::triggered, this, &TMainForm::CopyBitMapToClipBoar_MenuItemClick);
  QAction* savePicture = FBitMapPopupMenu->addAction(QStringLiteral("Сохранить в файл"));
  savePicture->setObjectName(QStringLiteral("SaveFBitMapToFile_MenuItem"));
  connect(savePicture, &QAction::triggered, this, &TMainForm::SaveFBitMapToFile_MenuItemClick);
  connect(ViewFileImage, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { FBitMapPopupMenu->popup(ViewFileImage->mapToGlobal(at)); });
}

QListView* TMainForm::ListView(ListKind kind) const {
  return kind == ListKind::Measure ? MesuareListBox : BScanListBox;
}

int TMainForm::SelectedRow(ListKind kind) const {
  const QModelIndexList rows = ListView(kind)->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.first().row();
}

// Reading.

void TMainForm::ReadMesuareFilesBitBtnClick(FileSide side) {
  if (reader_) reader_->Read(side);
}

void TMainForm::ReadBreakSpeedButtonClick() {
  if (reader_) reader_->Abort();
}

void TMainForm::UpdateReadingState() {
  if (!reader_) return;
  const bool busy = reader_->Busy();
  for (const ListKind kind : {ListKind::Measure, ListKind::Bscan})
    if (TTableForm* table = TableForm(kind)) table->SetReading(busy && readingList_ == kind);
  ReadMesuareFilesBitBtn->setEnabled(!busy);
  ReadBscanBitBtn->setEnabled(!busy);
  VirtualKDGroupBox->setEnabled(!busy);
  for (const FileSide side : {FileSide::kMeasure, FileSide::kBscan}) {
    QProgressBar* gauge = side == FileSide::kMeasure ? ReadMasuareGauge : ReadBscanGauge;
    const GaugeState g = reader_->Gauge(side);
    gauge->setRange(g.minimum, g.maximum);
    gauge->setValue(g.position);
    (side == FileSide::kMeasure ? MesuareLabel : BscanLabel)->setText(reader_->Label(side));
  }
}

// The lists.

void TMainForm::AppendEntry(ListKind kind, FileListEntry entry) {
  List(kind).Append(std::move(entry));
}

void TMainForm::ListPopupMenuPopup(ListKind kind, const QPoint& at) {
  currentList_ = kind;
  FileTypeItem->setText(kind == ListKind::Measure ? QStringLiteral("ИЗМЕРЕНИЯ")
                                                  : QStringLiteral("В-СКАНЫ"));
  const bool selected = SelectedRow(kind) >= 0;
  const bool entries = List(kind).Count() > 0;
  GetDataToMSWord->setEnabled(selected);
  DeleteFileFromList->setEnabled(selected);
  SaveFileToCatalogPC->setEnabled(selected);
  MSWord1->setEnabled(entries);
  ClearAllOfListBox->setEnabled(entries);
  SurveyTableItem->setEnabled(entries);
  ListPopupMenu->popup(ListView(kind)->viewport()->mapToGlobal(at));
}

void TMainForm::DeleteFileFromListClick() {
  const int row = SelectedRow(currentList_);
  if (row < 0) return;
  // Nothing is shown or selected afterwards: the neighbour the view would move to is not.
  showingEntry_ = true;
  List(currentList_).Remove(row);
  ListView(currentList_)->selectionModel()->clear();
  showingEntry_ = false;
  RichEdit->clear();  // the picture stays
  shown_ = {};
  shownContent_ = nullptr;
}

void TMainForm::ClearAllOfListBoxClick() {
  if (List(currentList_).Count() == 0) return;  // the description stays
  showingEntry_ = true;
  List(currentList_).Clear();
  ListView(currentList_)->selectionModel()->clear();
  showingEntry_ = false;
  RichEdit->clear();
  shown_ = {};
  shownContent_ = nullptr;
}

void TMainForm::AddLocalFile(ListKind kind, const QString& path) {
  LoadedFile loaded = LoadLocalFile(path);
  if (!loaded.ok()) {
    ShowMessageBox(this, BoxKind::kError, loaded.error);
    return;
  }
  // A file's name is shown by the same rule as the instrument's texts.
  AppendEntry(kind, FileListEntry{VisibleText(loaded.entryText), std::move(loaded.content), false});
}

void TMainForm::LoadFileToListClick() {
  const ListKind kind = currentList_;
  const ListDialogTexts texts = DialogTexts(kind);
  QFileDialog dialog(this, texts.loadTitle, environment_.dialogFolder);
  dialog.setObjectName(QStringLiteral("OpenFileDialog"));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilters(DialogFilters(texts.filter));
  dialog.setDefaultSuffix(texts.defaultExtension);
  dialog.selectFile(texts.loadDefaultName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  AddLocalFile(kind, dialog.selectedFiles().constFirst());
}

void TMainForm::SaveFileToCatalogPCClick() {
  const ListKind kind = currentList_;
  const int row = SelectedRow(kind);
  if (row < 0) {
    ShowMessageBox(this, BoxKind::kInformation, NoSelectedEntryMessage());
    return;
  }
  const FileListEntry* entry = List(kind).Entry(row);
  if (!entry->content) {
    ShowMessageBox(this, BoxKind::kInformation, EntryDataErrorMessage(entry->text));
    return;
  }
  const ListDialogTexts texts = DialogTexts(kind);
  QFileDialog dialog(this, texts.saveTitle, environment_.dialogFolder);
  dialog.setObjectName(QStringLiteral("SaveFileDialog"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setNameFilters(DialogFilters(texts.filter));
  dialog.setDefaultSuffix(texts.defaultExtension);
  dialog.setOption(QFileDialog::DontConfirmOverwrite);  // the program asks itself
  // A name made from instrument data must stay one file name in the folder.
  dialog.selectFile(SafeFileName(DefaultSaveName(entry->text, kind)));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  const QString path = dialog.selectedFiles().constFirst();
  if (QFileInfo::exists(path) && !AskYesNo(this, OverwriteQuestion(path), true)) return;
  // The entry may have gone while the dialog was open (a reading clears its list).
  const FileListEntry* still = List(kind).Entry(row);
  if (still != entry || !still->content) return;
  const QString error = SaveLocalFile(still->content->record, path);
  if (!error.isEmpty()) ShowMessageBox(this, BoxKind::kError, error);
}

// The table window of the current list: one per list, raised when opened again.
void TMainForm::SurveyTableItemClick() {
  TTableForm*& form = currentList_ == ListKind::Measure ? MesuareTableForm : BscanTableForm;
  if (!form) form = new TTableForm(currentList_, List(currentList_), *this);
  form->SetReading(reader_ && reader_->Busy() && readingList_ == currentList_);
  form->show();
  form->raise();
  form->activateWindow();
}

// The viewer.

void TMainForm::MesuareListBoxClick(ListKind kind) {
  // Taking the selection from the other list must not run that list's own showing.
  if (showingEntry_) return;
  showingEntry_ = true;
  RichEdit->clear();
  shown_ = {};
  shownContent_ = nullptr;
  if (List(kind).Count() > 0) {
    ListView(Other(kind))->selectionModel()->clear();
    const int row = SelectedRow(kind);
    const TKD735FileContent* content = row >= 0 ? List(kind).Content(row) : nullptr;
    if (content) {
      ShowDescription(*content);
      if (List(kind).Entry(row)->incomplete) {
        QTextCursor cursor(RichEdit->document());
        cursor.movePosition(QTextCursor::End);
        QTextCharFormat warning;
        warning.setForeground(QColor(200, 0, 0));
        warning.setFontWeight(QFont::Bold);
        cursor.insertBlock();
        cursor.insertText(QStringLiteral("Внимание: ") + FileListModel::IncompleteNote() +
                              QStringLiteral(" (недостающие байты равны нулю)"),
                          warning);
      }
    }
  }
  showingEntry_ = false;
}

void TMainForm::ShowDescription(const TKD735FileContent& content) {
  shown_ = DescribeRecord(content.record);
  shownContent_ = &content;
  QTextDocument* document = RichEdit->document();
  document->clear();
  document->setDefaultFont(PageFont());
  QTextCursor cursor(document);
  QTextBlockFormat block;
  block.setIndent(0);
  block.setLeftMargin(0);
  block.setRightMargin(0);
  block.setTextIndent(0);
  for (qsizetype i = 0; i < shown_.lines.size(); ++i) {
    const DescriptionLine& line = shown_.lines[i];
    QTextCharFormat format;
    format.setFontWeight(line.bold ? QFont::Bold : QFont::Normal);
    format.setForeground(line.blue ? QColor(0, 0, 255) : QColor(0, 0, 0));
    if (i == 0)
      cursor.setBlockFormat(block);
    else
      cursor.insertBlock(block);
    cursor.insertText(line.text, format);
  }
  RichEdit->moveCursor(QTextCursor::Start);
  if (shown_.drawPicture) {
    viewImage_ = RenderPicture(content.record, ImageInvColorCheckBox->isChecked());
    ViewFileImage->SetPicture(viewImage_);
  }
}

void TMainForm::ImageInvColorCheckBoxClick() {
  InvColorCheckBoxClick();  // the live screen's clear, in its own scheme
  // The shown picture follows its box at once, so the user sees what the box does.
  if (shownContent_ && shown_.drawPicture) {
    viewImage_ = RenderPicture(shownContent_->record, ImageInvColorCheckBox->isChecked());
    ViewFileImage->SetPicture(viewImage_);
  }
}

void TMainForm::CopyRichEditToClipboardClick() {
  RichEdit->selectAll();
  const DescriptionFont font{PageFont().family(), double(PageFont().pointSizeF())};
  auto* mime = new QMimeData;
  mime->setHtml(DescriptionHtml(shown_, font));
  mime->setText(DescriptionPlainText(shown_));
  const QByteArray rtf = DescriptionRtf(shown_, font);
  mime->setData(QStringLiteral("text/rtf"), rtf);
  mime->setData(QStringLiteral("text/richtext"), rtf);
  QApplication::clipboard()->setMimeData(mime);
  QTextCursor cursor = RichEdit->textCursor();
  cursor.clearSelection();
  RichEdit->setTextCursor(cursor);
  RichEdit->setFocus();
}

void TMainForm::SaveToRTFFileClick() {
  QFileDialog dialog(this, QStringLiteral("Сохранить в *.RTF файл"), environment_.dialogFolder);
  dialog.setObjectName(QStringLiteral("RtfSaveDialog"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setNameFilters(DialogFilters(QStringLiteral("*.rtf|*.rtf|*.*|*.*")));
  dialog.setDefaultSuffix(QStringLiteral("rtf"));
  dialog.setOption(QFileDialog::DontConfirmOverwrite);  // the program asks itself
  dialog.selectFile(QStringLiteral("NoName.rtf"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  const QString path = dialog.selectedFiles().constFirst();
  if (QFileInfo::exists(path) &&
      !AskYesNo(this, QStringLiteral("Файл с именем \r") + path +
                          QStringLiteral("\rуже существует\rЗаписать в него?")))
    return;
  const DescriptionFont font{PageFont().family(), double(PageFont().pointSizeF())};
  const FileWriteResult written = SaveDescriptionRtf(path, shown_, font);
  if (!written) ShowMessageBox(this, BoxKind::kError, written.message());
}

void TMainForm::CopyBitMapToClipBoar_MenuItemClick() {
  QApplication::clipboard()->setImage(viewImage_);
}

void TMainForm::SaveFBitMapToFile_MenuItemClick() {
  QFileDialog dialog(this, QStringLiteral("Сохранить в файл"));
  dialog.setObjectName(QStringLiteral("SavePictureDialog"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setNameFilters(
      {QStringLiteral("Точечный рисунок (*.bmp)"), QStringLiteral("Все файлы (*)")});
  dialog.setDefaultSuffix(QStringLiteral("bmp"));
  dialog.selectFile(QStringLiteral("NoName.bmp"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  const FileWriteResult written = SaveBmpFile(viewImage_, dialog.selectedFiles().constFirst());
  if (!written) ShowMessageBox(this, BoxKind::kError, written.message());
}

}  // namespace kd735::report_app
