// The table window of the report program, driven through the lists' menu and its own controls:
// the rows and statistics of a list as it changes, the marks below a minimum, the clipboard, the
// CSV file and the summary in the report.
#include <gtest/gtest.h>

#include <QAction>
#include <QClipboard>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include "apps/common/status_bar.h"
#include "apps/report/table_form.h"
#include "files/survey.h"
#include "files/survey_export.h"
#include "report/docx_engine.h"
#include "tests/apps/program_rig.h"
#include "tests/common/file_helpers.h"
#include "tests/common/requirements.h"
#include "tests/report/docx_reader.h"

namespace kd735::gui_test {
namespace {

using namespace std::chrono_literals;
using report_app::TMainForm;
using report_app::TTableForm;
using testing::PumpUntil;

// A measurement file of the simulated instrument: its thickness, and state 0 for no reading.
struct Reading {
  std::int32_t thickness;
  std::uint32_t state = 2;
};

class TableWindowTest : public ::testing::Test {
 public:
  void SetUp() override {
    App();
    ASSERT_TRUE(dir_.isValid());
    report_app::ReportEnvironment env;
    env.dialogFolder = dir_.path();
    env.openPath = [](const QString&) { return true; };
    const QString reports = dir_.filePath(QStringLiteral("reports"));
    env.engine = [reports](ReportSession::OwnerCall) {
      DocxEngineOptions o;
      o.reportsFolder = reports;
      o.openFile = [](const QString&) { return true; };
      return std::unique_ptr<ReportPort>(std::make_unique<DocxEngine>(o));
    };
    rig_ = std::make_unique<ProgramRig>(Which::kReport, true, RealisticBus(), env);
    form_ = static_cast<TMainForm*>(rig_->main);
  }

  template <typename T = QWidget>
  T* Find(QObject* in, const char* name) {
    T* w = in->findChild<T*>(QString::fromLatin1(name));
    EXPECT_TRUE(w) << name;
    return w;
  }
  QAction* Action(const char* name) { return Find<QAction>(form_, name); }
  QListView* View(ListKind kind) {
    return Find<QListView>(form_, kind == ListKind::Measure ? "MesuareListBox" : "BScanListBox");
  }
  QMenu* OpenMenu(ListKind kind) {
    Q_EMIT View(kind)->customContextMenuRequested(QPoint(5, 5));
    return Find<QMenu>(form_, "ListPopupMenu");
  }
  void Trigger(ListKind kind, const char* item) {
    QMenu* menu = OpenMenu(kind);
    QAction* action = Action(item);
    ASSERT_TRUE(action->isEnabled()) << item;
    menu->close();
    action->trigger();
  }
  TTableForm* OpenTable(ListKind kind) {
    Trigger(kind, "SurveyTableItem");
    TTableForm* table = form_->TableForm(kind);
    EXPECT_TRUE(table && table->isVisible());
    return table;
  }
  void SetReadings(const std::vector<Reading>& readings) {
    rig_->sim.WithInstrument(rig_->path, [readings](sim::Instrument& i) {
      auto& files = i.Files(sim::kMeasureKind);
      files.clear();
      for (std::size_t k = 0; k < readings.size(); ++k) {
        sim::MeasureFileSpec m;
        m.number = std::uint8_t(k + 1);
        m.name = "PIPE000" + std::to_string(k + 1);
        m.thickness = readings[k].thickness;
        m.state = readings[k].state;
        files.push_back(sim::MakeMeasureRecord(m));
      }
    });
  }
  void Read(ListKind kind) {
    Find<QPushButton>(form_,
                      kind == ListKind::Measure ? "ReadMesuareFilesBitBtn" : "ReadBscanBitBtn")
        ->click();
  }
  // The cells of a column as the view shows them, top to bottom.
  static QStringList Column(TTableForm* table, const QString& title) {
    auto* view = table->findChild<QTableView*>(QStringLiteral("SurveyTableView"));
    QAbstractItemModel* model = view->model();
    int column = -1;
    for (int c = 0; c < model->columnCount(); ++c)
      if (model->headerData(c, Qt::Horizontal).toString() == title) column = c;
    QStringList cells;
    if (column < 0) return cells;
    for (int r = 0; r < model->rowCount(); ++r) cells << model->index(r, column).data().toString();
    return cells;
  }
  // The statistics under the rows: "label: value" lines.
  static QStringList Statistics(TTableForm* table) {
    QStringList lines;
    for (int i = 0;; ++i) {
      auto* label = table->findChild<QLabel*>(QStringLiteral("StatisticsLabel%1").arg(i));
      auto* value = table->findChild<QLabel*>(QStringLiteral("StatisticsValue%1").arg(i));
      if (!label || !value) break;
      lines << label->text() + QLatin1Char(' ') + value->text();
    }
    return lines;
  }
  static QString Mm(std::int64_t hundredths) {
    return ThicknessText(hundredths, UserLocale()) + QStringLiteral(" мм");
  }
  bool WaitForReport() {
    return PumpUntil([&] { return form_->PendingReportActions() == 0; }, 60s);
  }

  QTemporaryDir dir_;
  std::unique_ptr<ProgramRig> rig_;
  TMainForm* form_ = nullptr;
  ModalWatcher watcher_;
};

TEST_F(TableWindowTest, TheMenuOpensOneWindowPerListAfterItsTenPositions) {
  QMenu* menu = OpenMenu(ListKind::Measure);
  QStringList items;
  for (QAction* a : menu->actions()) items << (a->isSeparator() ? "-" : a->text());
  EXPECT_EQ(items, (QStringList{"ИЗМЕРЕНИЯ", "-", "Отправить файл в MS Word",
                                "Отправить ВСЕ файлы в MS Word", "-", "Удалить файл из списка",
                                "Очистить весь список", "-", "Загрузить файл", "Сохранить файл",
                                "-", "Таблица измерений..."}));
  EXPECT_FALSE(Action("SurveyTableItem")->isEnabled()) << "an empty list";
  menu->close();

  SetReadings({{1000}, {1001}});
  Read(ListKind::Measure);
  TTableForm* table = OpenTable(ListKind::Measure);
  EXPECT_EQ(table->windowTitle(), QStringLiteral("Таблица измерений КД735"));
  EXPECT_FALSE(table->isModal());
  EXPECT_EQ(OpenTable(ListKind::Measure), table) << "opened again, the same window";

  // Tab leaves the table for the next control; Esc closes the window; every control has a name
  // for screen readers.
  table->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(table));
  auto* view = table->findChild<QTableView*>("SurveyTableView");
  view->setFocus();
  QTest::keyClick(view, Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), table->findChild<QLineEdit*>("MinimumThicknessEdit"));
  QTest::keyClick(view, Qt::Key_Escape);
  EXPECT_FALSE(table->isVisible());
  for (QWidget* w : table->findChildren<QWidget*>()) {
    if (!(w->focusPolicy() & Qt::TabFocus) || qobject_cast<QAbstractButton*>(w)) continue;
    EXPECT_FALSE(w->accessibleName().isEmpty()) << w->metaObject()->className();
  }
}

TEST_F(TableWindowTest, TheWindowShowsTheRowsAndStatisticsAndFollowsTheList) {
  SetReadings({{1000}, {950}, {1020}});
  Read(ListKind::Measure);
  TTableForm* table = OpenTable(ListKind::Measure);
  const QString h = QStringLiteral("H, мм");
  EXPECT_EQ(Column(table, h),
            (QStringList{ThicknessText(1000), ThicknessText(950), ThicknessText(1020)}));
  EXPECT_EQ(Column(table, QStringLiteral("Файл")),
            (QStringList{"001  PIPE0001 N001", "002  PIPE0002 N002", "003  PIPE0003 N003"}));
  const QStringList statistics = Statistics(table);
  ASSERT_EQ(statistics.size(), 7);
  EXPECT_EQ(statistics[0], QStringLiteral("Файлов: 3"));
  EXPECT_EQ(statistics[1], QStringLiteral("Измерений: 3"));
  EXPECT_EQ(statistics[2], QStringLiteral("Минимальная толщина: ") + Mm(950) +
                               QStringLiteral(" (002  PIPE0002 N002)"));
  EXPECT_EQ(statistics[6], QStringLiteral("Размах: ") + Mm(70));

  // Sorted by the values, not the texts ("9.50" would follow "10.20" as text).
  auto* view = table->findChild<QTableView*>("SurveyTableView");
  const int hColumn = 3;
  ASSERT_EQ(view->model()->headerData(hColumn, Qt::Horizontal).toString(), h);
  view->horizontalHeader()->setSortIndicator(hColumn, Qt::AscendingOrder);
  EXPECT_EQ(Column(table, h),
            (QStringList{ThicknessText(950), ThicknessText(1000), ThicknessText(1020)}));
  EXPECT_EQ(table->TableAsShown().rows[0].number, 2);
  view->horizontalHeader()->setSortIndicator(0, Qt::AscendingOrder);

  // A new reading clears the list and fills it file by file; the window shows every step, and
  // the summary waits for the reading's end.
  SetReadings({{800}, {810}, {820}, {830}});
  QList<int> rowsSeen;
  bool summaryOffWhileReading = true;
  QObject::connect(view->model(), &QAbstractItemModel::rowsInserted, table, [&] {
    rowsSeen << view->model()->rowCount();
    summaryOffWhileReading &= !table->findChild<QPushButton*>("SendSummaryButton")->isEnabled();
  });
  Read(ListKind::Measure);
  EXPECT_EQ(rowsSeen, (QList<int>{1, 2, 3, 4}));
  EXPECT_TRUE(summaryOffWhileReading);
  EXPECT_TRUE(table->findChild<QPushButton*>("SendSummaryButton")->isEnabled());
  EXPECT_EQ(Statistics(table)[0], QStringLiteral("Файлов: 4"));

  // A delete renumbers the rows and recounts; a cleared list empties the table.
  View(ListKind::Measure)->setCurrentIndex(View(ListKind::Measure)->model()->index(0, 0));
  Trigger(ListKind::Measure, "DeleteFileFromList");
  EXPECT_EQ(Column(table, QStringLiteral("№")), (QStringList{"1", "2", "3"}));
  EXPECT_EQ(Column(table, h),
            (QStringList{ThicknessText(810), ThicknessText(820), ThicknessText(830)}));
  EXPECT_EQ(Statistics(table)[2], QStringLiteral("Минимальная толщина: ") + Mm(810) +
                                      QStringLiteral(" (002  PIPE0002 N002)"));
  Trigger(ListKind::Measure, "ClearAllOfListBox");
  EXPECT_EQ(view->model()->rowCount(), 0);
  EXPECT_EQ(Statistics(table)[0], QStringLiteral("Файлов: 0"));
  EXPECT_EQ(Statistics(table)[2], QStringLiteral("Минимальная толщина: —"));
  EXPECT_FALSE(table->findChild<QPushButton*>("SendSummaryButton")->isEnabled());
  EXPECT_FALSE(table->findChild<QPushButton*>("CopyTableButton")->isEnabled());

  // Entries loaded while the window is closed show when it opens again.
  table->close();
  SetReadings({{700}});
  Read(ListKind::Measure);
  EXPECT_EQ(OpenTable(ListKind::Measure), table);
  EXPECT_EQ(Column(table, h), QStringList{ThicknessText(700)});
}

TEST_F(TableWindowTest, ABscanListShowsItsRowsAndNoThicknessStatistics) {
  Read(ListKind::Bscan);
  const int entries = form_->List(ListKind::Bscan).Count();
  ASSERT_GT(entries, 0);
  TTableForm* table = OpenTable(ListKind::Bscan);
  EXPECT_EQ(table->findChild<QTableView*>("SurveyTableView")->model()->rowCount(), entries);
  EXPECT_EQ(Column(table, QStringLiteral("Lck, мм")).size(), entries);
  EXPECT_TRUE(Column(table, QStringLiteral("H, мм")).isEmpty());
  EXPECT_EQ(Statistics(table), QStringList{QStringLiteral("Файлов: %1").arg(entries)});
  for (const char* name : {"SendSummaryButton", "MinimumThicknessEdit"}) {
    auto* w = table->findChild<QWidget*>(name);
    EXPECT_FALSE(w->isEnabled()) << name;
    EXPECT_TRUE(w->toolTip().contains(QStringLiteral("толщин"))) << name;
    EXPECT_EQ(w->accessibleDescription(), w->toolTip()) << name;
  }
  EXPECT_TRUE(table->findChild<QPushButton*>("CopyTableButton")->isEnabled());
  EXPECT_NE(OpenTable(ListKind::Bscan), form_->TableForm(ListKind::Measure));
}

TEST_F(TableWindowTest, ReadingsBelowTheMinimumAreMarkedInTheTableAndTheList) {
  // 4.00 and 4.49 are below 4.50, 4.50 itself is not; no reading (state 0) and a file read
  // without the packet of its thickness (a zero there) are never below.
  SetReadings({{450}, {400}, {500, 0}, {449}, {600}});
  Read(ListKind::Measure);
  FileListModel& list = form_->List(ListKind::Measure);
  sim::MeasureFileSpec missing;
  missing.thickness = 0;
  list.Append(FileListEntry{QStringLiteral("006  PIPE0006 N006"),
                            CreateFileContent(sim::MakeMeasureRecord(missing)), true});
  ASSERT_EQ(list.Count(), 6);
  TTableForm* table = OpenTable(ListKind::Measure);
  auto* edit = table->findChild<QLineEdit*>("MinimumThicknessEdit");
  edit->setFocus();
  QTest::keyClicks(edit, "4,5");

  const QString note = QStringLiteral("ниже минимально допустимой толщины");
  const std::vector<bool> below = {false, true, false, true, false, false};
  auto* view = table->findChild<QTableView*>("SurveyTableView");
  for (int row = 0; row < 6; ++row) {
    SCOPED_TRACE(row);
    const bool isBelow = below[static_cast<std::size_t>(row)];
    const QModelIndex cell = view->model()->index(row, 3);
    EXPECT_EQ(cell.data(Qt::ToolTipRole).toString().contains(note), isBelow);
    EXPECT_EQ(cell.data(Qt::AccessibleDescriptionRole).toString().contains(note), isBelow);
    EXPECT_EQ(cell.data(Qt::ForegroundRole).isValid(), isBelow);
    const QModelIndex entry = list.index(row);
    EXPECT_EQ(!entry.data(Qt::DecorationRole).value<QIcon>().isNull(), isBelow);
    EXPECT_EQ(entry.data(Qt::ToolTipRole).toString().contains(note), isBelow);
    EXPECT_EQ(entry.data(Qt::AccessibleDescriptionRole).toString(), isBelow ? note : QString());
    EXPECT_EQ(entry.data().toString(), list.Entry(row)->text) << "the entry's text stays";
  }
  // Red on a light ground, so that a dark palette keeps it readable.
  const QModelIndex marked = view->model()->index(1, 3);
  EXPECT_GT(marked.data(Qt::BackgroundRole).value<QBrush>().color().lightness(), 200);
  EXPECT_EQ(marked.data(Qt::ForegroundRole).value<QBrush>().color().red() > 150 &&
                marked.data(Qt::ForegroundRole).value<QBrush>().color().green() < 50,
            true);
  // The incomplete file's zero shows but is no reading.
  EXPECT_EQ(view->model()->index(5, 3).data().toString(), ThicknessText(0));
  EXPECT_TRUE(view->model()->index(5, 3).data(Qt::ToolTipRole).toString().contains("не полностью"));
  const QStringList statistics = Statistics(table);
  ASSERT_EQ(statistics.size(), 9);
  EXPECT_EQ(statistics[1], QStringLiteral("Измерений: 4"));
  EXPECT_EQ(statistics[2], QStringLiteral("Минимальная толщина: ") + Mm(400) +
                               QStringLiteral(" (002  PIPE0002 N002)"));
  EXPECT_EQ(statistics[7], QStringLiteral("Минимально допустимая толщина: ") + Mm(450));
  EXPECT_EQ(statistics[8],
            QStringLiteral("Ниже допустимой: 2 (002  PIPE0002 N002; 004  PIPE0004 N004)"));

  // Half typed is no minimum yet; cleared, nothing is marked.
  QTest::keyClick(edit, Qt::Key_Backspace);
  EXPECT_EQ(edit->text(), QStringLiteral("4,"));
  EXPECT_FALSE(list.MinimumAllowed());
  EXPECT_TRUE(list.index(1).data(Qt::DecorationRole).value<QIcon>().isNull());
  EXPECT_EQ(Statistics(table).size(), 7);
  QTest::keyClicks(edit, "x7");  // letters are not taken
  EXPECT_EQ(edit->text(), QStringLiteral("4,7"));
  EXPECT_EQ(list.MinimumAllowed(), 470);
  edit->clear();
  EXPECT_FALSE(list.MinimumAllowed());
  EXPECT_FALSE(view->model()->index(1, 3).data(Qt::ForegroundRole).isValid());
}

TEST_F(TableWindowTest, CopyPutsTextAndHtmlAndTheCsvIsWrittenOrTheFailureNamed) {
  SetReadings({{1000}, {400}});
  Read(ListKind::Measure);
  TTableForm* table = OpenTable(ListKind::Measure);
  table->findChild<QLineEdit*>("MinimumThicknessEdit")->setText(QStringLiteral("5"));
  // Copied in the order shown: thinnest first.
  table->findChild<QTableView*>("SurveyTableView")
      ->horizontalHeader()
      ->setSortIndicator(3, Qt::AscendingOrder);
  table->findChild<QPushButton*>("CopyTableButton")->click();
  const QMimeData* copied = QApplication::clipboard()->mimeData();
  ASSERT_TRUE(copied);
  const QStringList lines = copied->text().split(u'\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 3);
  EXPECT_TRUE(lines[0].startsWith(QStringLiteral("№\tФайл\tДата\tH, мм\t")));
  EXPECT_TRUE(lines[1].startsWith(QStringLiteral("2\t002  PIPE0002 N002\t")));
  EXPECT_EQ(lines[1].split(u'\t')[3], ThicknessText(400));
  ASSERT_TRUE(copied->hasHtml());
  const QString html = copied->html();
  EXPECT_TRUE(html.contains(QStringLiteral("<th>H, мм</th>")));
  EXPECT_EQ(html.count(QStringLiteral("<tr")), 3);
  EXPECT_EQ(html.count(QStringLiteral("color:#c00000")), 1) << "the row below the minimum";

  const QString csv = dir_.filePath(QStringLiteral("таблица.csv"));
  watcher_.AnswerFileDialog(csv);
  table->findChild<QPushButton*>("SaveCsvButton")->click();
  const QByteArray bytes = testing::Read(csv);
  ASSERT_TRUE(bytes.startsWith(kUtf8Bom)) << bytes.left(40).toStdString();
  const QList<QByteArray> records = bytes.mid(3).split('\n');
  ASSERT_GE(records.size(), 3);
  EXPECT_TRUE(records[1].startsWith("2")) << "the order shown";
  EXPECT_TRUE(watcher_.Boxes().empty());

  // A file that cannot be written: the window says which and why.
  const QString bad = QStringLiteral("/proc/version");
  watcher_.AnswerFileDialog(bad);
  watcher_.AnswerBox(QMessageBox::Yes);  // the dialog's own question about replacing it
  table->findChild<QPushButton*>("SaveCsvButton")->click();
  ASSERT_FALSE(watcher_.Boxes().empty());
  const auto& box = watcher_.Boxes().back();
  EXPECT_EQ(box.icon, QMessageBox::Critical);
  EXPECT_TRUE(box.text.contains(bad)) << box.text.toStdString();
}

TEST_F(TableWindowTest, TheSummaryGoesAfterTheReportsLastTable) {
  SetReadings({{1000}, {400}, {700}});
  Read(ListKind::Measure);
  TTableForm* table = OpenTable(ListKind::Measure);
  auto* send = table->findChild<QPushButton*>("SendSummaryButton");
  auto* status = form_->findChild<TStatusBar*>("ReportStatusBar");

  // No document yet: the Word actions' box and status text.
  send->click();
  ASSERT_TRUE(WaitForReport());
  ASSERT_EQ(watcher_.Boxes().size(), 1u);
  EXPECT_EQ(watcher_.Boxes()[0].text,
            QStringLiteral(
                "Сначала нужно создать документ Word.\nПотом передавайте в него файлы КД735."));
  EXPECT_EQ(status->PanelText(0), QStringLiteral("Нет открытых документов Word."));
  EXPECT_TRUE(send->isEnabled());
  watcher_.Clear();

  form_->findChild<QPushButton*>("CreateWordDocBitBtn")->click();
  ASSERT_TRUE(WaitForReport());
  table->findChild<QLineEdit*>("MinimumThicknessEdit")->setText(QStringLiteral("5,00"));
  send->click();
  EXPECT_FALSE(send->isEnabled()) << "while it is written";
  ASSERT_TRUE(WaitForReport());
  EXPECT_TRUE(send->isEnabled());
  EXPECT_TRUE(watcher_.Boxes().empty()) << watcher_.Boxes()[0].text.toStdString();
  EXPECT_TRUE(status->PanelText(0).contains(QFileInfo(form_->ReportPath()).fileName()))
      << status->PanelText(0).toStdString();

  // python-docx, an independent reader, finds the statistics in the document's last table.
  QString error;
  const std::optional<QStringList> read = testing::PythonDocxSummary(form_->ReportPath(), &error);
  KD735_NEED(read.has_value(), "python3-docx");
  ASSERT_FALSE(read->isEmpty()) << error.toStdString();
  int last = 0;
  for (const QString& line : *read)
    if (line.startsWith(QStringLiteral("row ")))
      last = std::max(last, line.section(u' ', 1, 1).toInt());
  QStringList rows;
  for (const QString& line : *read)
    if (line.startsWith(QStringLiteral("row %1 ").arg(last))) rows << line.section(u' ', 2);
  QStringList expected;
  for (const SurveySummaryLine& line : SurveySummary(table->Table()))
    expected << line.label + u'|' + line.value;
  EXPECT_EQ(rows, expected);
  ASSERT_EQ(rows.size(), 9);
  EXPECT_EQ(rows[2], QStringLiteral("Минимальная толщина|") + Mm(400) +
                         QStringLiteral(" (002  PIPE0002 N002)"));
  EXPECT_EQ(rows[8], QStringLiteral("Ниже допустимой|1 (002  PIPE0002 N002)"));
  testing::DocxReader docx(form_->ReportPath());
  const auto tables = docx.tables();
  ASSERT_FALSE(tables.empty());
  EXPECT_EQ(testing::DocxReader::text(tables.back().previous_sibling()),
            QStringLiteral("Сводка измерений"));
}

}  // namespace
}  // namespace kd735::gui_test
