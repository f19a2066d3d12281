#pragma once

#include <QLocale>
#include <QWidget>

#include "apps/report/survey_table_model.h"
#include "files/file_list_model.h"
#include "files/local_file.h"

class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;

namespace kd735::report_app {

class TMainForm;

// "Таблица измерений КД735": the numbers of one file list as a table with the statistics of its
// thickness readings, a minimum allowed thickness that marks the readings below it (here and in
// the list), and the table as CSV, on the clipboard, or its summary in the report. It follows the
// list: every entry read, loaded, deleted or cleared shows at once.
class TTableForm final : public QWidget {
  Q_OBJECT

 public:
  TTableForm(ListKind kind, FileListModel& list, TMainForm& owner);

  ListKind Kind() const { return kind_; }
  const SurveyTable& Table() const { return model_.Table(); }
  // The rows in the order the view shows them (sorted by a column, or the list's order).
  SurveyTable TableAsShown() const;
  // A reading into this window's list is under way (the summary waits for its end).
  void SetReading(bool reading);

  // Handlers, named after their control and event.
  void MinimumThicknessEditChange();
  void SaveCsvButtonClick();
  void CopyTableButtonClick();
  void SendSummaryButtonClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  SurveyTable MakeTable() const;
  void Follow();
  void ShowStatistics();
  void UpdateButtons();
  void ShowNote();

  const ListKind kind_;
  FileListModel& list_;
  TMainForm& owner_;
  const QLocale locale_;
  SurveyTableModel model_;
  QSortFilterProxyModel* sorted_ = nullptr;
  bool stale_ = false;  // the list changed while the window was hidden
  bool reading_ = false;
  bool sending_ = false;
  QString sendResult_;

  QLabel* ListNameLabel = nullptr;
  QTableView* SurveyTableView = nullptr;
  QGridLayout* StatisticsGrid = nullptr;
  QLabel* MinimumThicknessLabel = nullptr;
  QLineEdit* MinimumThicknessEdit = nullptr;
  QLabel* TableNoteLabel = nullptr;
  QPushButton* SaveCsvButton = nullptr;
  QPushButton* CopyTableButton = nullptr;
  QPushButton* SendSummaryButton = nullptr;
};

}  // namespace kd735::report_app
