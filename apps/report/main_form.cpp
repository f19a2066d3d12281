#include "apps/report/main_form.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTextEdit>
#include <QThread>
#include <QToolButton>
#include <QUrl>

#include "apps/common/form_kit.h"
#include "apps/common/picture_view.h"
#include "apps/common/simulator_menu.h"
#include "apps/common/spin_edit.h"
#include "apps/common/status_bar.h"
#include "apps/report/table_form.h"
#include "files/data_paths.h"
#include "files/instrument_entry.h"
#include "link/link_controller.h"
#include "report/docx_engine.h"
#include "report/writer_engine.h"

namespace kd735::report_app {

namespace {

constexpr QSize kClientSize(792, 509);
constexpr int kColumnWidth = 154;
constexpr int kFooterHeight = 22;

TPanelForm::Layout ReportLayout() {
  return {1,
          QStringLiteral("Копировать в буфер обмена"),
          true,
          {{150, Qt::AlignHCenter, QStringLiteral("Нет связи с КД734 ??")},
           {90, Qt::AlignHCenter, QStringLiteral("Поток данных")},
           {50, Qt::AlignLeft, QStringLiteral("Пакет 64 байт")}}};
}

bool OpenWithDesktop(const QString& path) {
  return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

// The program's own engine: .docx files in the user's documents, opened with the desktop's
// program for them (always on the window's thread).
ReportSession::EngineFactory OwnDocxEngine(std::function<bool(const QString&)> openPath,
                                           const QString& soffice) {
  return [openPath, soffice](ReportSession::OwnerCall call) {
    DocxEngineOptions options;
    options.soffice = soffice;
    options.openFile = [openPath, call](const QString& path) {
      auto opened = std::make_shared<bool>(false);
      call([opened, openPath, path] { *opened = openPath(path); });
      return *opened;
    };
    return std::unique_ptr<ReportPort>(std::make_unique<DocxEngine>(options));
  };
}

BoxKind BoxFor(MessageBoxKind kind) {
  switch (kind) {
    case MessageBoxKind::Error:
      return BoxKind::kError;
    case MessageBoxKind::Information:
      return BoxKind::kInformation;
    case MessageBoxKind::Plain:
      break;
  }
  return BoxKind::kPlain;
}

}  // namespace

TMainForm::TMainForm(sim::SimulatedBus* simulated, ReportEnvironment environment, QWidget* parent)
    : TPanelForm(ReportLayout(), parent), environment_(std::move(environment)) {
  setObjectName(QStringLiteral("MainForm"));
  setWindowTitle(QStringLiteral("  Генератор отчетов ультразвукового толщиномера КД735 "));
  if (environment_.programFolder.isEmpty())
    environment_.programFolder = QCoreApplication::applicationDirPath();
  if (environment_.templatePath.isEmpty()) environment_.templatePath = DefaultTemplatePath();
  if (environment_.dialogFolder.isEmpty()) {
    // An installed program's folder is not the user's: the dialogs start in the documents.
    environment_.dialogFolder =
        QFileInfo(environment_.programFolder).isWritable()
            ? environment_.programFolder
            : QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  }
  if (!environment_.openPath) environment_.openPath = OpenWithDesktop;
  if (environment_.soffice.isEmpty())
    environment_.soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
  // Writer drives the report live when it can be started (found out below, off this thread);
  // until then, and otherwise, the .docx engine does.
  const bool lookForWriter = !environment_.engine;
  if (lookForWriter) {
    environment_.engine = OwnDocxEngine(environment_.openPath, environment_.soffice);
    writer_ = {false, QStringLiteral("проверяется, можно ли его запустить")};
  } else {
    writer_ = {false, QStringLiteral("не используется")};
    writerChecked_ = true;
  }
  backend_ = WordBackend::kDocx;

  BuildLeftColumn();

  // Right side: the report's two pages.
  PageControl = new QTabWidget(Client());
  PageControl->setObjectName(QStringLiteral("PageControl"));
  PageControl->setGeometry(kColumnWidth, 2, kClientSize.width() - kColumnWidth - 2,
                           kClientSize.height() - kFooterHeight - 4);
  CreateMSWordDocumentTabSheet = new QWidget(PageControl);
  CreateMSWordDocumentTabSheet->setObjectName(QStringLiteral("CreateMSWordDocumentTabSheet"));
  TxDataToMSWordTabSheet = new QWidget(PageControl);
  TxDataToMSWordTabSheet->setObjectName(QStringLiteral("TxDataToMSWordTabSheet"));
  PageControl->addTab(CreateMSWordDocumentTabSheet,
                      QStringLiteral("  Создать документ MS Word, настройки  "));
  PageControl->addTab(TxDataToMSWordTabSheet, QStringLiteral("  Передать данные в документ  "));
  PageControl->setCurrentIndex(0);
  BuildSettingsPage();
  BuildFilesPage();
  BuildMenus();

  if (simulated) menuBar()->addMenu(new SimulatorMenu(*simulated, this));
  // The client area keeps its size; a menu bar (simulation only) comes on top of it.
  Client()->setFixedSize(kClientSize);
  MakeFixedWindow(this,
                  QSize(kClientSize.width(),
                        kClientSize.height() + (simulated ? menuBar()->sizeHint().height() : 0)));

  sessionHandlers_.showMessage = [this](const ReportMessage& m) {
    if (!closing_) ShowMessageBox(this, BoxFor(m.kind), m.text);
  };
  sessionHandlers_.setStatus = [this](const QString& text) {
    ReportStatusBar->SetPanelText(0, text);
  };
  sessionHandlers_.pictureCopied = [](const QImage& picture) {
    QApplication::clipboard()->setImage(picture);
  };
  MakeSession(backend_);
  ShowWriterAvailability();
  connect(WordEngineComboBox, &QComboBox::currentIndexChanged, this,
          &TMainForm::WordEngineComboBoxChange);
  if (lookForWriter) CheckWriter();

  FormCreate();
}

TMainForm::~TMainForm() {
  closing_ = true;
  if (writerCheck_) writerCheck_->wait();  // the check has its own time limit
  session_.reset();  // the action under way ends first; its engine goes on its own thread
}

void TMainForm::MakeSession(WordBackend backend) {
  session_.reset();  // an engine of the other kind goes, on its own thread
  backend_ = backend;
  reportMade_ = false;  // the new engine has no document
  UpdatePdfButton();
  ReportSession::EngineFactory factory = environment_.engine;
  if (backend == WordBackend::kWriter) {
    factory = [](ReportSession::OwnerCall) { return CreateReportPort(WordBackend::kWriter); };
  }
  session_ = std::make_unique<ReportSession>(factory, sessionHandlers_);
}

void TMainForm::CheckWriter() {
  // Starting the helper takes some tens of milliseconds, and longer on a loaded machine: the
  // window is up meanwhile.
  auto result = std::make_shared<WordBackendAvailability>();
  writerCheck_ = QThread::create([result] {
    *result = CheckWordBackend(WordBackend::kWriter);
    // A report in a Writer nobody can see would look made and then be lost: a LibreOffice
    // without windows, or no screen, leaves the report to the .docx engine.
    if (result->available) {
      const WriterWindowCheck window = WriterEngine::CheckWindow();
      if (!window.canShow) *result = {false, window.reason};
    }
  });
  writerCheck_->setParent(this);
  connect(writerCheck_, &QThread::finished, this, [this, result] {
    writer_ = *result;
    writerChecked_ = true;
    if (writer_.available && !engineSettled_ && PendingReportActions() == 0)
      MakeSession(WordBackend::kWriter);
    ShowWriterAvailability();
  });
  writerCheck_->start();
}

void TMainForm::ShowWriterAvailability() {
  // The choice shows the engine in use; Writer can be chosen only where it can be started.
  if (auto* items = qobject_cast<QStandardItemModel*>(WordEngineComboBox->model())) {
    QStandardItem* writer = items->item(1);
    writer->setEnabled(writer_.available);
    const QString why = writer_.available
                            ? QStringLiteral("Отчет строится в LibreOffice Writer у вас на глазах")
                            : QStringLiteral("LibreOffice Writer недоступен: ") + writer_.reason;
    writer->setToolTip(why);
    writer->setData(why, Qt::AccessibleDescriptionRole);
  }
  const QSignalBlocker quiet(WordEngineComboBox);
  WordEngineComboBox->setCurrentIndex(WordEngineComboBox->findData(int(backend_)));
}

void TMainForm::BuildLeftColumn() {
  QWidget* client = Client();
  VirtualKDGroupBox = new QGroupBox(QStringLiteral("Виртуальный толщиномер"), client);
  VirtualKDGroupBox->setObjectName(QStringLiteral("VirtualKDGroupBox"));
  VirtualKDGroupBox->setGeometry(2, 2, kColumnWidth - 4, 372);
  for (QWidget* w : std::initializer_list<QWidget*>{
           DXDraw, DrawCheckBox, InvColorCheckBox, EnterSpeedButton, EscapeSpeedButton,
           UpSpeedButton, DownSpeedButton, LeftSpeedButton, RightSpeedButton})
    w->setParent(VirtualKDGroupBox);
  DXDraw->move(7, 22);
  DrawCheckBox->setGeometry(8, 98, 134, 20);
  InvColorCheckBox->setGeometry(8, 120, 134, 20);
  EnterSpeedButton->setGeometry(7, 146, 66, 32);
  EscapeSpeedButton->setGeometry(77, 146, 66, 32);
  const QSize arrow(40, 34);
  UpSpeedButton->setGeometry(QRect(QPoint(55, 184), arrow));
  LeftSpeedButton->setGeometry(QRect(QPoint(12, 220), arrow));
  RightSpeedButton->setGeometry(QRect(QPoint(98, 220), arrow));
  DownSpeedButton->setGeometry(QRect(QPoint(55, 256), arrow));
  for (QToolButton* b : {UpSpeedButton, DownSpeedButton, LeftSpeedButton, RightSpeedButton})
    b->setIconSize(QSize(22, 22));

  BottomPanel = new QFrame(VirtualKDGroupBox);
  BottomPanel->setObjectName(QStringLiteral("BottomPanel"));
  BottomPanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  BottomPanel->setGeometry(5, 298, 140, 68);
  ReStartSpeedButton->setParent(BottomPanel);
  UnLocButtomsSpeedButton->setParent(BottomPanel);
  ScreenClearSpeedButton->setParent(BottomPanel);
  BitBtn1->setParent(BottomPanel);
  int x = 6;
  for (QToolButton* b : {ReStartSpeedButton, UnLocButtomsSpeedButton, ScreenClearSpeedButton}) {
    b->setGeometry(x, 4, 30, 30);
    b->setIconSize(QSize(22, 22));
    x += 34;
  }
  BitBtn1->setGeometry(4, 37, 132, 27);
  // Tab follows the layout: the arrow cross row by row.
  setTabOrder(EscapeSpeedButton, UpSpeedButton);
  setTabOrder(UpSpeedButton, LeftSpeedButton);
  setTabOrder(LeftSpeedButton, RightSpeedButton);
  setTabOrder(RightSpeedButton, DownSpeedButton);
  setTabOrder(DownSpeedButton, ReStartSpeedButton);

  // The footer runs along the whole bottom edge, so that all three panels can be read.
  Footer()->setParent(client);
  Footer()->setGeometry(0, kClientSize.height() - kFooterHeight, kClientSize.width(),
                        kFooterHeight);
}

void TMainForm::FormCreate() {
  TMPNameEdit->setText(QDir::toNativeSeparators(environment_.templatePath));
  ReadMesuareFilesBitBtn->setText(
      MessageLines(QStringLiteral("Прочитать файлы\rизмерений из прибора")));
  ReadBscanBitBtn->setText(MessageLines(QStringLiteral("Прочитать файлы\rВ-сканов из прибора")));
  FontBitBtn->setText(MessageLines(QStringLiteral("Выбрать шрифт\rдля записей")));
  viewImage_ = QImage(134, 70, QImage::Format_RGB32);
  viewImage_.fill(Qt::white);
  ViewFileImage->SetPicture(viewImage_);
  MesuareLabel->setText(QStringLiteral("Сообщение"));
  BscanLabel->setText(QStringLiteral("Сообщение"));
  measure_.Clear();
  bscan_.Clear();
  RichEdit->clear();
}

void TMainForm::SetLink(LinkController* link) {
  TPanelForm::SetLink(link);
  reader_.reset();
  if (!link) return;
  InstrumentFileReader::Hooks hooks;
  hooks.showMessage = [this](MessageKind kind, const QString& text) {
    if (!closing_)
      ShowMessageBox(this, kind == MessageKind::kError ? BoxKind::kError : BoxKind::kInformation,
                     text);
  };
  hooks.clearList = [this](FileSide side) {
    currentList_ = side == FileSide::kMeasure ? ListKind::Measure : ListKind::Bscan;
    readingList_ = currentList_;
    UpdateReadingState();
    ClearAllOfListBoxClick();
  };
  hooks.appendFile = [this](const InstrumentFile& file) {
    InstrumentFileEntry entry = MakeInstrumentFileEntry(file);
    AppendEntry(file.side == FileSide::kMeasure ? ListKind::Measure : ListKind::Bscan,
                FileListEntry{entry.text, std::move(entry.content), entry.incomplete});
  };
  reader_ = std::make_unique<InstrumentFileReader>(*link, hooks);
  connect(reader_.get(), &InstrumentFileReader::stateChanged, this, &TMainForm::UpdateReadingState);
  UpdateReadingState();
}

void TMainForm::closeEvent(QCloseEvent* event) {
  // A reading under way stops at its next check, without its message.
  closing_ = true;
  if (reader_) reader_->Abort();
  // The table windows go with the report; left open they would keep the program running.
  for (const ListKind kind : {ListKind::Measure, ListKind::Bscan})
    if (TTableForm* table = TableForm(kind)) table->close();
  TPanelForm::closeEvent(event);
}

void TMainForm::BringToFront() {
  raise();
  activateWindow();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  for (const ListKind kind : {ListKind::Measure, ListKind::Bscan}) {
    QListView* view = ListView(kind);
    if (watched == view && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
      currentList_ = kind;
      DeleteFileFromListClick();
      return true;
    }
    if (watched != view->viewport()) continue;
    // Instrument files dropped from the file manager are loaded as "Загрузить файл" does.
    if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
      auto* drag = static_cast<QDropEvent*>(event);
      if (drag->mimeData()->hasUrls()) {
        drag->acceptProposedAction();
        return true;
      }
    }
    if (event->type() == QEvent::Drop) {
      auto* drop = static_cast<QDropEvent*>(event);
      const QList<QUrl> urls = drop->mimeData()->urls();
      drop->acceptProposedAction();
      currentList_ = kind;
      for (const QUrl& url : urls)
        if (url.isLocalFile()) AddLocalFile(kind, url.toLocalFile());
      return true;
    }
  }
  return TPanelForm::eventFilter(watched, event);
}

}  // namespace kd735::report_app
