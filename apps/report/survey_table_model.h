#pragma once

#include <QAbstractTableModel>
#include <QIcon>

#include "files/survey.h"

namespace kd735::report_app {

// The survey table of a file list as a Qt item model: one row per entry in the list's order, the
// cells' texts, and their values for sorting. Rows below the minimum carry the mark of the lists.
class SurveyTableModel final : public QAbstractTableModel {
  Q_OBJECT

 public:
  // What a sorting proxy sorts by: the cell's value for numbers, else its text.
  static constexpr int kSortRole = Qt::UserRole;

  explicit SurveyTableModel(QObject* parent = nullptr);

  const SurveyTable& Table() const { return table_; }
  void SetBelowMinimumIcon(const QIcon& icon) { belowMinimumIcon_ = icon; }

  // The new table after a change of the list, told as the list told it, so that a view keeps
  // its selection and place: rows inserted or removed at [first, last], or anything else.
  void RowsInserted(int first, int last, SurveyTable table);
  void RowsRemoved(int first, int last, SurveyTable table);
  void Changed(SurveyTable table);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  void AllDataChanged();

  SurveyTable table_;
  QIcon belowMinimumIcon_;
};

}  // namespace kd735::report_app
