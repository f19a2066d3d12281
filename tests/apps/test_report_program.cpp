// The report program's two pages driven through their controls: reading the instrument's files,
// the lists and their local files, the viewer, the report options and the Word actions.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDropEvent>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <QTextLayout>
#include <QToolButton>
#include <QUrl>

#include "apps/common/form_kit.h"
#include "apps/common/picture_view.h"
#include "files/local_file.h"
#include "files/picture.h"
#include "files/viewer.h"
#include "report/docx_engine.h"
#include "report/writer_engine.h"
#include "tests/apps/program_rig.h"
#include "tests/common/file_helpers.h"
#include "tests/common/requirements.h"
#include "tests/report/docx_reader.h"

namespace kd735::gui_test {
namespace {

using testing::PumpUntil;

using namespace std::chrono_literals;
using report_app::TMainForm;

// The report program on the simulated instrument, its reports kept in a folder of the test.
class ReportProgramTest : public ::testing::Test {
 public:
  void SetUp() override {
    App();
    ASSERT_TRUE(dir_.isValid());
    Start(true);
  }

  void Start(bool instrument) {
    rig_.reset();
    report_app::ReportEnvironment env;
    env.dialogFolder = dir_.path();
    env.soffice = soffice_;
    const QString reports = dir_.filePath(QStringLiteral("reports"));
    env.openPath = [this](const QString& path) {
      opened_ << path;
      return true;
    };
    env.engine = [reports](ReportSession::OwnerCall) {
      DocxEngineOptions o;
      o.reportsFolder = reports;
      o.openFile = [](const QString&) { return true; };
      return std::unique_ptr<ReportPort>(std::make_unique<DocxEngine>(o));
    };
    rig_ = std::make_unique<ProgramRig>(Which::kReport, instrument, RealisticBus(), env);
    form_ = static_cast<TMainForm*>(rig_->main);
  }

  template <typename T = QWidget>
  T* Find(const char* name) {
    T* w = form_->findChild<T*>(QString::fromLatin1(name));
    EXPECT_TRUE(w) << name;
    return w;
  }
  QAction* Action(const char* name) {
    return form_->findChild<QAction*>(QString::fromLatin1(name));
  }
  QStringList Entries(ListKind kind) {
    QStringList texts;
    const FileListModel& list = form_->List(kind);
    for (int i = 0; i < list.Count(); ++i) texts << list.Entry(i)->text;
    return texts;
  }
  QListView* View(ListKind kind) {
    return Find<QListView>(kind == ListKind::Measure ? "MesuareListBox" : "BScanListBox");
  }
  void Select(ListKind kind, int row) {
    QListView* view = View(kind);
    const QModelIndex index = view->model()->index(row, 0);
    view->setCurrentIndex(index);  // as the keyboard moves it
  }
  // Opens the list menu on a list as the right mouse button does.
  QMenu* OpenMenu(ListKind kind) {
    Q_EMIT View(kind)->customContextMenuRequested(QPoint(5, 5));
    return Find<QMenu>("ListPopupMenu");
  }
  void Trigger(ListKind kind, const char* item) {
    QMenu* menu = OpenMenu(kind);
    QAction* action = Action(item);
    ASSERT_TRUE(action) << item;
    ASSERT_TRUE(action->isEnabled()) << item;
    menu->close();
    action->trigger();
  }
  void SetMeasureFiles(int count) {
    rig_->sim.WithInstrument(rig_->path, [count](sim::Instrument& i) {
      auto& files = i.Files(sim::kMeasureKind);
      files.clear();
      for (int k = 0; k < count; ++k) {
        sim::MeasureFileSpec m;
        m.number = std::uint8_t(k + 1);
        m.name = "TEST000" + std::to_string(k + 1);
        m.dateTime = "10.12.2026 12:0" + std::to_string(k);
        m.thickness = 1000 + k;
        files.push_back(sim::MakeMeasureRecord(m));
      }
    });
  }
  void ReadMeasureFiles() { Find<QPushButton>("ReadMesuareFilesBitBtn")->click(); }
  bool WaitForReport() {
    return PumpUntil([&] { return form_->PendingReportActions() == 0; }, 30s);
  }

  QTemporaryDir dir_;
  QString soffice_;  // empty: soffice on the PATH
  std::unique_ptr<ProgramRig> rig_;
  TMainForm* form_ = nullptr;
  QStringList opened_;
  ModalWatcher watcher_;
};

TEST_F(ReportProgramTest, PagesStartWithTheirDefaults) {
  EXPECT_EQ(Find<QLabel>("MesuareLabel")->text(), QStringLiteral("Сообщение"));
  EXPECT_EQ(Find<QLabel>("BscanLabel")->text(), QStringLiteral("Сообщение"));
  EXPECT_EQ(Find<QProgressBar>("ReadMasuareGauge")->maximum(), 999);
  EXPECT_EQ(Find<QPushButton>("ReadMesuareFilesBitBtn")->text(),
            QStringLiteral("Прочитать файлы\nизмерений из прибора"));
  EXPECT_EQ(Find<QPushButton>("FontBitBtn")->text(), QStringLiteral("Выбрать шрифт\nдля записей"));
  EXPECT_EQ(Find<QToolButton>("ReadBreakSpeedButton")->toolTip(), QStringLiteral("Прервать"));
  EXPECT_EQ(Find<QToolButton>("ReadBreakSpeedButton")->size(), QSize(25, 36));
  EXPECT_EQ(Find<TPictureView>("ViewFileImage")->Picture().pixel(60, 30), qRgb(255, 255, 255));
  EXPECT_TRUE(Find<QLineEdit>("TMPNameEdit")->text().endsWith(QStringLiteral("Sample_KD735.docx")));
  EXPECT_TRUE(QFileInfo::exists(Find<QLineEdit>("TMPNameEdit")->text()));
  // The engine given is the one in use; Writer is not offered then.
  auto* engine = Find<QComboBox>("WordEngineComboBox");
  EXPECT_EQ(engine->currentText(), WordBackendName(WordBackend::kDocx));
  EXPECT_EQ(form_->Backend(), WordBackend::kDocx);
  // Every option at its default, whatever an earlier run chose.
  EXPECT_EQ(form_->Settings(), ReportSettings{});
  EXPECT_EQ(form_->Settings().bscan.tablePosition, 2);
}

TEST_F(ReportProgramTest, ReadingFilesFillsTheListWithNumberedEntries) {
  SetMeasureFiles(3);
  ReadMeasureFiles();
  const QStringList entries = Entries(ListKind::Measure);
  ASSERT_EQ(entries.size(), 3);
  EXPECT_TRUE(entries[0].startsWith(QStringLiteral("001  TEST0001 N001")))
      << entries[0].toStdString();
  EXPECT_TRUE(entries[1].startsWith(QStringLiteral("002  ")));
  EXPECT_TRUE(entries[2].startsWith(QStringLiteral("003  ")));
  EXPECT_EQ(Find<QProgressBar>("ReadMasuareGauge")->minimum(), 0);
  EXPECT_EQ(Find<QProgressBar>("ReadMasuareGauge")->maximum(), 2);
  EXPECT_EQ(Find<QProgressBar>("ReadMasuareGauge")->value(), 0);
  EXPECT_EQ(Find<QLabel>("MesuareLabel")->text(), QStringLiteral("Найдено файлов - 3"));
  EXPECT_TRUE(watcher_.Boxes().empty());
  EXPECT_TRUE(Find<QPushButton>("ReadMesuareFilesBitBtn")->isEnabled());
  EXPECT_TRUE(Find<QGroupBox>("VirtualKDGroupBox")->isEnabled());
  EXPECT_EQ(form_->CurrentList(), ListKind::Measure);
}

TEST_F(ReportProgramTest, DuringAReadingThePanelIsOffAndTheScreenGoesOn) {
  SetMeasureFiles(3);
  bool disabledWhileReading = false;
  std::uint64_t presentsDuring = 0;
  const std::uint64_t before = form_->Surface().PresentCount();
  QObject::connect(&form_->List(ListKind::Measure), &QAbstractItemModel::rowsInserted, [&] {
    disabledWhileReading = !Find<QGroupBox>("VirtualKDGroupBox")->isEnabled() &&
                           !Find<QPushButton>("ReadBscanBitBtn")->isEnabled();
    presentsDuring = form_->Surface().PresentCount() - before;
  });
  ReadMeasureFiles();
  EXPECT_TRUE(disabledWhileReading);
  EXPECT_GT(presentsDuring, 0u);  // the live screen was drawn while the files came
}

TEST_F(ReportProgramTest, AnAbortWhilePacketsArriveKeepsTheEarlierEntries) {
  SetMeasureFiles(5);
  QObject::connect(&form_->List(ListKind::Measure), &QAbstractItemModel::rowsInserted, [&] {
    // Clicked while the packets of the third file come in.
    if (form_->List(ListKind::Measure).Count() == 2)
      QTimer::singleShot(0, [&] { Find<QToolButton>("SpeedButton1")->click(); });
  });
  ReadMeasureFiles();
  EXPECT_EQ(Entries(ListKind::Measure).size(), 2);
  ASSERT_EQ(watcher_.Boxes().size(), 1u);
  EXPECT_EQ(watcher_.Boxes()[0].text, QStringLiteral("Чтение файлов прервано пользователем"));
  EXPECT_EQ(watcher_.Boxes()[0].icon, QMessageBox::Information);
  EXPECT_TRUE(Find<QPushButton>("ReadMesuareFilesBitBtn")->isEnabled());
  EXPECT_TRUE(Find<QGroupBox>("VirtualKDGroupBox")->isEnabled());
}

TEST_F(ReportProgramTest, EveryFailedReadingSaysWhyAndLeavesTheButtonsUsable) {
  struct Case {
    const char* name;
    std::function<void(ReportProgramTest&)> arrange;
    QString text;
    QMessageBox::Icon icon;
  };
  const Case cases[] = {
      {"no instrument", [](ReportProgramTest& t) { t.Start(false); },
       QStringLiteral("Нет подключенных приборов КД735\nНевозможно прочитать файлы !!!"),
       QMessageBox::Information},
      {"no files", [](ReportProgramTest& t) { t.SetMeasureFiles(0); },
       QStringLiteral("В приборе нет файлов измерений"), QMessageBox::Critical},
      {"listing error",
       [](ReportProgramTest& t) {
         t.rig_->sim.WithInstrument(t.rig_->path,
                                    [](sim::Instrument& i) { i.Faults().wrongListingEchoes = 3; });
       },
       QStringLiteral("Ошибка составления списка \nфайлов измерений !!!"), QMessageBox::Critical},
      {"link failure",
       [](ReportProgramTest& t) {
         t.SetMeasureFiles(3);
         t.rig_->sim.UnplugAfterReplies(t.rig_->path, 1 + 128 + 20);
       },
       QStringLiteral("НЕТ связи с прибором !!!"), QMessageBox::Critical},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Start(true);
    watcher_.Clear();
    c.arrange(*this);
    ReadMeasureFiles();
    ASSERT_EQ(watcher_.Boxes().size(), 1u);
    EXPECT_EQ(watcher_.Boxes()[0].text, c.text);
    EXPECT_EQ(watcher_.Boxes()[0].icon, c.icon);
    EXPECT_TRUE(Find<QPushButton>("ReadMesuareFilesBitBtn")->isEnabled());
    EXPECT_TRUE(Find<QPushButton>("ReadBscanBitBtn")->isEnabled());
    EXPECT_TRUE(Find<QGroupBox>("VirtualKDGroupBox")->isEnabled());
    EXPECT_EQ(Find<QProgressBar>("ReadMasuareGauge")->value(), 0);
  }
  // The link failure came in the second file: the first one stays.
  EXPECT_EQ(Entries(ListKind::Measure).size(), 1);
}

TEST_F(ReportProgramTest, AFileReadWithoutAllItsPacketsIsMarked) {
  SetMeasureFiles(2);
  rig_->sim.WithInstrument(rig_->path, [](sim::Instrument& i) { i.Faults().missingPackets = {5}; });
  ReadMeasureFiles();
  ASSERT_EQ(Entries(ListKind::Measure).size(), 2);
  const FileListModel& list = form_->List(ListKind::Measure);
  EXPECT_TRUE(list.Entry(0)->incomplete);
  EXPECT_TRUE(list.data(list.index(0), Qt::ToolTipRole).toString().contains("не полностью"));
  EXPECT_TRUE(list.data(list.index(0), Qt::ForegroundRole).isValid());
  Select(ListKind::Measure, 0);
  EXPECT_TRUE(Find<QTextEdit>("RichEdit")->toPlainText().contains("не полностью"));

  // Packets of 20 bytes from the moment the list is emptied (the listing came whole): every
  // packet number arrives, but no packet is whole, so both files are marked.
  rig_->sim.WithInstrument(rig_->path, [](sim::Instrument& i) { i.Faults().missingPackets = {}; });
  QObject::connect(&list, &QAbstractItemModel::modelReset, [&] {
    rig_->sim.WithInstrument(rig_->path, [](sim::Instrument& i) { i.Faults().replyBytes = 20; });
  });
  ReadMeasureFiles();
  ASSERT_EQ(Entries(ListKind::Measure).size(), 2);
  for (int row = 0; row < 2; ++row) {
    EXPECT_TRUE(list.Entry(row)->incomplete);
    EXPECT_TRUE(list.data(list.index(row), Qt::ForegroundRole).isValid());
  }
}

TEST_F(ReportProgramTest, TheMenuActsOnTheListItWasOpenedOn) {
  SetMeasureFiles(2);
  ReadMeasureFiles();
  Find<QPushButton>("ReadBscanBitBtn")->click();
  ASSERT_EQ(Entries(ListKind::Bscan).size(), 2);

  QMenu* menu = OpenMenu(ListKind::Bscan);
  EXPECT_EQ(Action("FileTypeItem")->text(), QStringLiteral("В-СКАНЫ"));
  EXPECT_EQ(menu->defaultAction(), Action("FileTypeItem"));
  QStringList items;
  for (QAction* a : menu->actions()) items << (a->isSeparator() ? "-" : a->text());
  EXPECT_EQ(items, (QStringList{"В-СКАНЫ", "-", "Отправить файл в MS Word",
                                "Отправить ВСЕ файлы в MS Word", "-", "Удалить файл из списка",
                                "Очистить весь список", "-", "Загрузить файл", "Сохранить файл",
                                "-", "Таблица измерений..."}));
  // Nothing selected: only what needs entries, and loading, can be chosen.
  EXPECT_FALSE(Action("GetDataToMSWord")->isEnabled());
  EXPECT_FALSE(Action("DeleteFileFromList")->isEnabled());
  EXPECT_FALSE(Action("SaveFileToCatalogPC")->isEnabled());
  EXPECT_TRUE(Action("MSWord1")->isEnabled());
  EXPECT_TRUE(Action("ClearAllOfListBox")->isEnabled());
  EXPECT_TRUE(Action("LoadFileToList")->isEnabled());
  for (QAction* a : menu->actions()) {
    if (!a->isSeparator() && a != Action("FileTypeItem")) {
      EXPECT_FALSE(a->icon().isNull()) << a->text().toStdString();
    }
  }
  menu->close();
  Action("ClearAllOfListBox")->trigger();
  EXPECT_TRUE(Entries(ListKind::Bscan).isEmpty());
  EXPECT_EQ(Entries(ListKind::Measure).size(), 2);
  EXPECT_EQ(Action("FileTypeItem")->text(), QStringLiteral("В-СКАНЫ"));
  OpenMenu(ListKind::Measure)->close();
  EXPECT_EQ(Action("FileTypeItem")->text(), QStringLiteral("ИЗМЕРЕНИЯ"));
  EXPECT_TRUE(Action("ClearAllOfListBox")->isEnabled());
}

TEST_F(ReportProgramTest, ShowingAnEntryGivesItsDescriptionInItsFormatsAndItsPicture) {
  SetMeasureFiles(2);
  ReadMeasureFiles();
  Find<QPushButton>("ReadBscanBitBtn")->click();
  Select(ListKind::Bscan, 0);
  Select(ListKind::Measure, 1);
  // The other list lost its selection.
  EXPECT_TRUE(View(ListKind::Bscan)->selectionModel()->selectedRows().isEmpty());

  const TKD735FileContent* content = form_->List(ListKind::Measure).Content(1);
  const Description want = DescribeRecord(content->record);
  QTextDocument* doc = Find<QTextEdit>("RichEdit")->document();
  ASSERT_EQ(doc->blockCount(), want.lines.size());
  int i = 0;
  for (QTextBlock b = doc->begin(); b.isValid(); b = b.next(), ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(b.text(), want.lines[i].text);
    const QTextCharFormat f = b.begin().fragment().charFormat();
    EXPECT_EQ(f.fontWeight() == QFont::Bold, want.lines[i].bold);
    EXPECT_EQ(f.foreground().color() == QColor(0, 0, 255), want.lines[i].blue);
  }
  EXPECT_EQ(Find<TPictureView>("ViewFileImage")->Picture().convertToFormat(QImage::Format_RGB32),
            RenderPicture(content->record, false));
  // The viewer's box inverts the shown picture and clears the live screen in its own scheme.
  Find<QCheckBox>("ImageInvColorCheckBox")->click();
  EXPECT_EQ(Find<TPictureView>("ViewFileImage")->Picture().convertToFormat(QImage::Format_RGB32),
            RenderPicture(content->record, true));
  EXPECT_EQ(form_->Screen()->Presented().pixel(0, 0), qRgb(0, 0, 0));

  // A record of a kind the viewer does not know: three lines, and the picture stays as it was.
  const QImage inverted = Find<TPictureView>("ViewFileImage")->Picture();
  auto unknown = std::make_unique<TKD735FileContent>();
  unknown->record[0] = 0x12;
  form_->List(ListKind::Bscan).Append(FileListEntry{QStringLiteral("unknown"), std::move(unknown)});
  Select(ListKind::Bscan, 2);
  EXPECT_EQ(Find<QTextEdit>("RichEdit")->document()->blockCount(), 3);
  EXPECT_EQ(Find<QTextEdit>("RichEdit")->document()->lastBlock().text(),
            QStringLiteral("Неизвестный Файл"));
  EXPECT_EQ(Find<TPictureView>("ViewFileImage")->Picture(), inverted);
  Select(ListKind::Measure, 1);

  // Deleting the shown entry (the Delete key) clears the text and keeps the picture.
  const QImage picture = Find<TPictureView>("ViewFileImage")->Picture();
  View(ListKind::Measure)->setFocus();
  QTest::keyClick(View(ListKind::Measure), Qt::Key_Delete);
  EXPECT_EQ(Entries(ListKind::Measure).size(), 1);
  EXPECT_TRUE(Find<QTextEdit>("RichEdit")->toPlainText().isEmpty());
  EXPECT_EQ(Find<TPictureView>("ViewFileImage")->Picture(), picture);
  EXPECT_TRUE(View(ListKind::Measure)->selectionModel()->selectedRows().isEmpty());
}

// A B-scan's long lines wrap at the box's width instead of needing sideways scrolling.
TEST_F(ReportProgramTest, TheDescriptionWrapsLongLines) {
  Find<QPushButton>("ReadBscanBitBtn")->click();
  Find<QTabWidget>("PageControl")->setCurrentIndex(1);
  Select(ListKind::Bscan, 0);
  auto* box = Find<QTextEdit>("RichEdit");
  QApplication::processEvents();
  EXPECT_EQ(box->horizontalScrollBar()->maximum(), 0);
  const QTextBlock range = box->document()->findBlock(
      box->toPlainText().indexOf(QStringLiteral("Диапазон толщин (согласно настройки прибора)")));
  ASSERT_TRUE(range.isValid());
  EXPECT_GT(range.layout()->lineCount(), 1);
}

TEST_F(ReportProgramTest, SavedEntriesLoadBackAndWrongSizesAreRefused) {
  SetMeasureFiles(1);
  ReadMeasureFiles();
  Select(ListKind::Measure, 0);
  const QString saved = dir_.filePath(QStringLiteral("probe1.KDMesuare"));
  watcher_.AnswerFileDialog(saved);
  Trigger(ListKind::Measure, "SaveFileToCatalogPC");
  ASSERT_EQ(testing::Read(saved).size(), 2133);

  watcher_.AnswerFileDialog(saved);
  Trigger(ListKind::Measure, "LoadFileToList");
  ASSERT_EQ(Entries(ListKind::Measure).size(), 2);
  EXPECT_EQ(Entries(ListKind::Measure)[1], QStringLiteral("probe1.KDMesuare"));
  const auto& a = form_->List(ListKind::Measure).Content(0)->record;
  const auto& b = form_->List(ListKind::Measure).Content(1)->record;
  EXPECT_TRUE(std::equal(a.begin(), a.begin() + 2133, b.begin()));
  EXPECT_TRUE(std::all_of(b.begin() + 2133, b.end(), [](std::uint8_t x) { return x == 0; }));
  EXPECT_EQ(View(ListKind::Measure)->selectionModel()->selectedRows().size(), 1);  // unchanged

  // Saving over an existing file asks first; "No" leaves it.
  Select(ListKind::Measure, 0);
  watcher_.AnswerFileDialog(saved);
  watcher_.AnswerBox(QMessageBox::No);
  const auto before = QFileInfo(saved).lastModified();
  Trigger(ListKind::Measure, "SaveFileToCatalogPC");
  ASSERT_EQ(watcher_.Boxes().size(), 1u);
  EXPECT_EQ(watcher_.Boxes()[0].text, MessageLines(OverwriteQuestion(saved)));
  EXPECT_EQ(QFileInfo(saved).lastModified(), before);
  watcher_.Clear();

  for (const int size : {2132, 4266}) {
    const QString path = dir_.filePath(QStringLiteral("size%1.KDMesuare").arg(size));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(size, 'x'));
    f.close();
    watcher_.AnswerFileDialog(path);
    Trigger(ListKind::Measure, "LoadFileToList");
    ASSERT_EQ(watcher_.Boxes().size(), 1u) << size;
    EXPECT_EQ(watcher_.Boxes()[0].text, MessageLines(BadSizeMessage(path)));
    watcher_.Clear();
  }
  EXPECT_EQ(Entries(ListKind::Measure).size(), 2);
}

TEST_F(ReportProgramTest, ADefaultNameMadeFromInstrumentDataStaysOneFileName) {
  rig_->sim.WithInstrument(rig_->path, [](sim::Instrument& i) {
    sim::MeasureFileSpec m;
    m.name = "A/B";
    i.Files(sim::kMeasureKind).assign(1, sim::MakeMeasureRecord(m));
  });
  ReadMeasureFiles();
  Select(ListKind::Measure, 0);
  QString proposed;
  watcher_.AnswerFileDialog(QString());  // cancelled, after looking at the proposed name
  QTimer probe;
  QObject::connect(&probe, &QTimer::timeout, [&] {
    if (auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget()))
      if (auto* name = d->findChild<QLineEdit*>("fileNameEdit")) proposed = name->text();
  });
  probe.start(1);
  Trigger(ListKind::Measure, "SaveFileToCatalogPC");
  EXPECT_FALSE(proposed.contains('/')) << proposed.toStdString();
  EXPECT_TRUE(proposed.endsWith(QStringLiteral(".KDMesuare"))) << proposed.toStdString();
}

TEST_F(ReportProgramTest, DroppedFilesLoadAsTheMenuLoadsThem) {
  SetMeasureFiles(1);
  ReadMeasureFiles();
  Select(ListKind::Measure, 0);
  const QString saved = dir_.filePath(QStringLiteral("dropped.KDBscan"));
  ASSERT_TRUE(SaveLocalFile(form_->List(ListKind::Measure).Content(0)->record, saved).isEmpty());
  const QString wrong = dir_.filePath(QStringLiteral("small.KDBscan"));
  QFile f(wrong);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("short");
  f.close();

  auto* data = new QMimeData;
  data->setUrls({QUrl::fromLocalFile(saved), QUrl::fromLocalFile(wrong)});
  QWidget* target = View(ListKind::Bscan)->viewport();
  // As the window system delivers a drop: the drag enters the list, then is dropped on it.
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &enter);
  ASSERT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(5, 5), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &drop);
  delete data;
  EXPECT_EQ(Entries(ListKind::Bscan), QStringList{QStringLiteral("dropped.KDBscan")});
  ASSERT_EQ(watcher_.Boxes().size(), 1u);
  EXPECT_EQ(watcher_.Boxes()[0].text, MessageLines(BadSizeMessage(wrong)));
}

TEST_F(ReportProgramTest, TheDescriptionIsCopiedAsRichTextAndSavedAsRtf) {
  SetMeasureFiles(1);
  ReadMeasureFiles();
  Select(ListKind::Measure, 0);
  auto* rich = Find<QTextEdit>("RichEdit");
  Action("CopyRichEditToClipboard")->trigger();
  const QMimeData* copied = QApplication::clipboard()->mimeData();
  ASSERT_TRUE(copied);
  EXPECT_TRUE(copied->hasHtml());
  EXPECT_TRUE(copied->hasFormat("text/rtf"));
  EXPECT_EQ(copied->text(), rich->toPlainText());
  EXPECT_FALSE(rich->textCursor().hasSelection());

  const QString rtf = dir_.filePath(QStringLiteral("description.rtf"));
  watcher_.AnswerFileDialog(rtf);
  Action("SaveToRTFFile")->trigger();
  const QByteArray bytes = testing::Read(rtf);
  ASSERT_TRUE(bytes.startsWith("{\\rtf1\\ansi\\ansicpg1251"));

  // LibreOffice reads the same lines back.
  const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
  KD735_NEED(!soffice.isEmpty(), "LibreOffice");
  QProcess convert;
  convert.setProgram(soffice);
  convert.setArguments({QStringLiteral("--headless"), QStringLiteral("--norestore"),
                        QStringLiteral("-env:UserInstallation=file://") + dir_.filePath("lo"),
                        QStringLiteral("--convert-to"), QStringLiteral("txt:Text (encoded):UTF8"),
                        QStringLiteral("--outdir"), dir_.path(), rtf});
  convert.start();
  ASSERT_TRUE(convert.waitForFinished(120000));
  QString text = QString::fromUtf8(testing::Read(dir_.filePath(QStringLiteral("description.txt"))));
  text.remove(QChar(0xFEFF));
  QStringList lines = text.split(QRegularExpression(QStringLiteral("\r?\n")));
  while (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  EXPECT_EQ(lines, rich->toPlainText().split('\n'));
}

TEST_F(ReportProgramTest, FontChooserAndFieldsKeepTheOptionsInRange) {
  struct Case {
    QFont chosen;
    int size;
    bool bold, italic;
  };
  QFont bigBoldItalic(QStringLiteral("Liberation Serif"), 72);
  bigBoldItalic.setBold(true);
  bigBoldItalic.setItalic(true);
  QFont tiny(QStringLiteral("Liberation Sans"), 1);
  for (const Case& c : {Case{bigBoldItalic, 40, true, true}, Case{tiny, 2, false, false}}) {
    watcher_.AnswerFontDialog(c.chosen);
    Find<QPushButton>("FontBitBtn")->click();
    const ReportSettings s = form_->Settings();
    EXPECT_EQ(s.font.size, c.size);
    EXPECT_EQ(s.font.bold, c.bold);
    EXPECT_EQ(s.font.italic, c.italic);
    EXPECT_EQ(s.font.name, QFontInfo(c.chosen).family());
  }
  EXPECT_EQ(watcher_.FontDialogs(), 2);

  // Seven typed digits above the range become its maximum when the focus leaves.
  auto* number = Find<QSpinBox>("DocNumPBSpinEdit");
  number->setFocus();
  number->findChild<QLineEdit*>()->selectAll();
  QTest::keyClicks(number, "9999999");
  EXPECT_EQ(number->text(), QStringLiteral("9999999"));
  Find<QLineEdit>("FontNameEdit")->setFocus();
  QCoreApplication::processEvents();
  EXPECT_EQ(form_->Settings().documentNumber, 1000000);
  // The stepped-only fields cannot be typed into.
  auto* table = Find<QSpinBox>("TableMesuareNumPBSpinEdit");
  table->setFocus();
  QTest::keyClicks(table, "7");
  EXPECT_EQ(form_->Settings().measure.tablePosition, 1);
  QTest::keyClick(table, Qt::Key_Up);
  EXPECT_EQ(form_->Settings().measure.tablePosition, 2);
}

TEST_F(ReportProgramTest, CreatingTheDocumentThenSendingAllFilesFillsTheTable) {
  SetMeasureFiles(3);
  ReadMeasureFiles();
  Find<QPushButton>("CreateWordDocBitBtn")->click();
  EXPECT_FALSE(Find<QPushButton>("CreateWordDocBitBtn")->isEnabled());
  ASSERT_TRUE(WaitForReport());
  EXPECT_TRUE(Find<QPushButton>("CreateWordDocBitBtn")->isEnabled());
  EXPECT_TRUE(watcher_.Boxes().empty()) << watcher_.Boxes()[0].text.toStdString();
  const QString report = form_->ReportPath();
  ASSERT_FALSE(report.isEmpty());
  EXPECT_TRUE(Find<QLabel>("ReportFileLabel")->text().contains(QFileInfo(report).fileName()));
  EXPECT_EQ(form_->Settings().documentNumber, 1);  // advanced for the next document
  auto* status = form_->findChild<TStatusBar*>("ReportStatusBar");
  EXPECT_EQ(status->PanelText(0),
            QStringLiteral("Открыт документ Word -") + QFileInfo(report).fileName());

  Trigger(ListKind::Measure, "MSWord1");
  EXPECT_FALSE(View(ListKind::Measure)->isEnabled());  // while the blocks are written
  ASSERT_TRUE(WaitForReport());
  EXPECT_TRUE(View(ListKind::Measure)->isEnabled());
  EXPECT_TRUE(status->PanelText(0).endsWith(QStringLiteral(" добавлен блок данных.")));
  EXPECT_EQ(QApplication::clipboard()->image().size(), QSize(134, 70));

  testing::DocxReader docx(report);
  ASSERT_TRUE(docx.ok());
  EXPECT_EQ(docx.docVar(QStringLiteral("NUMBER")), QStringLiteral("0001"));
  EXPECT_EQ(docx.docVar(QStringLiteral("DEVNUM")), QStringLiteral("KD735 N 00123"));
  const auto rows = testing::DocxReader::rows(docx.tables().at(0));
  ASSERT_EQ(rows.size(), 4u);  // the heading and three blocks
  for (std::size_t n = 1; n <= 3; ++n) {
    const auto cells = testing::DocxReader::cells(rows[n]);
    ASSERT_GE(cells.size(), 3u);
    EXPECT_EQ(testing::DocxReader::text(cells[0]), QString::number(n));
    EXPECT_EQ(docx.picture(cells[1].select_node(".//a:blip").node()).size(), QSize(134, 70));
    const auto lines = testing::DocxReader::paragraphs(cells[2]);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("Имя  файла  TEST000%1").arg(n)));
  }

  // The report can be opened from the settings page.
  Find<QPushButton>("OpenReportButton")->click();
  Find<QPushButton>("OpenReportFolderButton")->click();
  EXPECT_EQ(opened_, (QStringList{report, QFileInfo(report).absolutePath()}));
}

// The report made with the .docx engine goes to PDF through LibreOffice; without LibreOffice the
// button says why it is off.
TEST_F(ReportProgramTest, TheReportIsSavedAsPdfWhereLibreOfficeIsInstalled) {
  auto* pdf = Find<QPushButton>("SaveReportPdfButton");
  EXPECT_FALSE(pdf->isEnabled()) << "no document yet";
  KD735_NEED(!QStandardPaths::findExecutable(QStringLiteral("soffice")).isEmpty(), "LibreOffice");
  Find<QPushButton>("CreateWordDocBitBtn")->click();
  ASSERT_TRUE(WaitForReport());
  ASSERT_TRUE(pdf->isEnabled());
  const QString out = dir_.filePath(QStringLiteral("отчет.pdf"));
  watcher_.AnswerFileDialog(out);
  pdf->click();
  EXPECT_FALSE(pdf->isEnabled()) << "while it is made";
  ASSERT_TRUE(PumpUntil([&] { return form_->PendingReportActions() == 0; }, 180s));
  EXPECT_TRUE(watcher_.Boxes().empty()) << watcher_.Boxes()[0].text.toStdString();
  QFile file(out);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_TRUE(file.read(5) == "%PDF-");
  EXPECT_TRUE(form_->findChild<TStatusBar*>("ReportStatusBar")->PanelText(0).contains(out));
  EXPECT_TRUE(pdf->isEnabled());

  soffice_ = dir_.filePath(QStringLiteral("no-soffice"));
  Start(true);
  Find<QPushButton>("CreateWordDocBitBtn")->click();
  ASSERT_TRUE(WaitForReport());
  pdf = Find<QPushButton>("SaveReportPdfButton");
  EXPECT_FALSE(pdf->isEnabled());
  EXPECT_TRUE(pdf->toolTip().contains(QStringLiteral("LibreOffice")))
      << pdf->toolTip().toStdString();
  EXPECT_EQ(pdf->accessibleDescription(), pdf->toolTip());
}

// Without an engine given, Writer is used exactly when it can be started and show its window,
// and the user may choose the .docx engine instead for the rest of the run.
TEST(ReportProgramEngine, WriterWhereItCanBeStartedAndTheChoiceIsTheUsers) {
  ProgramRig rig(Which::kReport);
  auto* form = static_cast<TMainForm*>(rig.main);
  auto* engine = form->findChild<QComboBox*>(QStringLiteral("WordEngineComboBox"));
  ASSERT_TRUE(engine);
  // Found out off the window's thread: the window is up before it is known.
  ASSERT_TRUE(PumpUntil([&] { return form->WriterChecked(); }));
  const bool writer =
      CheckWordBackend(WordBackend::kWriter).available && WriterEngine::CheckWindow().canShow;
  EXPECT_EQ(form->Backend(), writer ? WordBackend::kWriter : WordBackend::kDocx);
  EXPECT_EQ(engine->currentText(), WordBackendName(form->Backend()));
  engine->setCurrentIndex(engine->findData(int(WordBackend::kDocx)));
  EXPECT_EQ(form->Backend(), WordBackend::kDocx);
}

// Where Writer could not show its window (here: no screen), a report in it would be invisible:
// the .docx engine is the default, and the Writer item says why it is not offered.
TEST(ReportProgramEngine, NoWriterDefaultWithoutAScreenAndTheItemSaysWhy) {
  const QByteArray display = qgetenv("DISPLAY"), wayland = qgetenv("WAYLAND_DISPLAY");
  qunsetenv("DISPLAY");
  qunsetenv("WAYLAND_DISPLAY");
  ProgramRig rig(Which::kReport);
  auto* form = static_cast<TMainForm*>(rig.main);
  const bool checked = PumpUntil([&] { return form->WriterChecked(); });
  if (!display.isEmpty()) qputenv("DISPLAY", display);
  if (!wayland.isEmpty()) qputenv("WAYLAND_DISPLAY", wayland);
  ASSERT_TRUE(checked);
  auto* engine = form->findChild<QComboBox*>(QStringLiteral("WordEngineComboBox"));
  ASSERT_TRUE(engine);
  EXPECT_EQ(form->Backend(), WordBackend::kDocx);
  EXPECT_EQ(engine->currentText(), WordBackendName(WordBackend::kDocx));
  const QModelIndex item = engine->model()->index(engine->findData(int(WordBackend::kWriter)), 0);
  EXPECT_FALSE(engine->model()->flags(item) & Qt::ItemIsEnabled);
  const QString why = item.data(Qt::ToolTipRole).toString();
  EXPECT_TRUE(why.startsWith(QStringLiteral("LibreOffice Writer недоступен: ")) && why.size() > 40)
      << why.toStdString();
  EXPECT_EQ(item.data(Qt::AccessibleDescriptionRole).toString(), why);
  if (CheckWordBackend(WordBackend::kWriter).available) {
    EXPECT_TRUE(why.contains(QStringLiteral("не был бы виден"))) << why.toStdString();
  }
}

TEST_F(ReportProgramTest, WordActionsWithoutATemplateOrDocumentSayWhy) {
  Find<QLineEdit>("TMPNameEdit")->setText(dir_.filePath(QStringLiteral("missing.docx")));
  Find<QPushButton>("CreateWordDocBitBtn")->click();
  ASSERT_TRUE(WaitForReport());
  ASSERT_EQ(watcher_.Boxes().size(), 1u);
  EXPECT_TRUE(watcher_.Boxes()[0].text.startsWith(QStringLiteral("Файл шаблона \n")));
  EXPECT_EQ(watcher_.Boxes()[0].icon, QMessageBox::Critical);
  watcher_.Clear();

  SetMeasureFiles(1);
  ReadMeasureFiles();
  Select(ListKind::Measure, 0);
  Trigger(ListKind::Measure, "GetDataToMSWord");
  ASSERT_TRUE(WaitForReport());
  ASSERT_EQ(watcher_.Boxes().size(), 1u);
  EXPECT_EQ(watcher_.Boxes()[0].text,
            QStringLiteral(
                "Сначала нужно создать документ Word.\nПотом передавайте в него файлы КД735."));
  EXPECT_EQ(form_->findChild<TStatusBar*>("ReportStatusBar")->PanelText(0),
            QStringLiteral("Нет открытых документов Word."));
}

}  // namespace
}  // namespace kd735::gui_test
