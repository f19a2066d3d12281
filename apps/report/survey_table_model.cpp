#include "apps/report/survey_table_model.h"

#include <QBrush>
#include <QColor>

#include "files/file_list_model.h"

namespace kd735::report_app {

SurveyTableModel::SurveyTableModel(QObject* parent) : QAbstractTableModel(parent) {}

void SurveyTableModel::RowsInserted(int first, int last, SurveyTable table) {
  if (first < 0 || last < first || table.RowCount() != table_.RowCount() + (last - first + 1) ||
      table.ColumnCount() != table_.ColumnCount())
    return Changed(std::move(table));
  beginInsertRows(QModelIndex(), first, last);
  table_ = std::move(table);
  endInsertRows();
  AllDataChanged();  // the running numbers after them, the marks
}

void SurveyTableModel::RowsRemoved(int first, int last, SurveyTable table) {
  if (first < 0 || last < first || last >= table_.RowCount() ||
      table.RowCount() != table_.RowCount() - (last - first + 1) ||
      table.ColumnCount() != table_.ColumnCount())
    return Changed(std::move(table));
  beginRemoveRows(QModelIndex(), first, last);
  table_ = std::move(table);
  endRemoveRows();
  AllDataChanged();
}

void SurveyTableModel::Changed(SurveyTable table) {
  if (table.RowCount() == table_.RowCount() && table.columns == table_.columns) {
    table_ = std::move(table);
    AllDataChanged();
    return;
  }
  beginResetModel();
  table_ = std::move(table);
  endResetModel();
}

void SurveyTableModel::AllDataChanged() {
  if (table_.RowCount() > 0 && table_.ColumnCount() > 0)
    Q_EMIT dataChanged(index(0, 0), index(table_.RowCount() - 1, table_.ColumnCount() - 1));
}

int SurveyTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : table_.RowCount();
}

int SurveyTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : table_.ColumnCount();
}

QVariant SurveyTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= table_.RowCount() ||
      index.column() >= table_.ColumnCount())
    return {};
  const SurveyRow& row = table_.rows[std::size_t(index.row())];
  const SurveyColumn column = table_.columns[index.column()];
  const SurveyCell& cell = row.Cell(column);
  switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
      return VisibleText(cell.text);
    case kSortRole:
      if (IsNumericColumn(column)) return cell.value ? QVariant(*cell.value) : QVariant();
      return VisibleText(cell.text);
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(Qt::AlignVCenter |
                                 (IsNumericColumn(column) ? Qt::AlignRight : Qt::AlignLeft));
    case Qt::DecorationRole:
      if (row.belowMinimum && column == SurveyColumn::Number) return belowMinimumIcon_;
      return {};
    // Dark red on a light red ground: readable under a light and a dark palette alike.
    case Qt::ForegroundRole:
      if (row.belowMinimum) return QBrush(QColor(176, 0, 0));
      return {};
    case Qt::BackgroundRole:
      if (row.belowMinimum) return QBrush(QColor(255, 224, 224));
      return {};
    case Qt::ToolTipRole:
    case Qt::AccessibleDescriptionRole: {
      QStringList notes;
      if (row.belowMinimum) notes << FileListModel::BelowMinimumNote();
      if (row.incomplete)
        notes << FileListModel::IncompleteNote() +
                     (table_.kind == SurveyKind::Measure
                          ? QStringLiteral(": толщина не входит в статистику")
                          : QString());
      if (notes.isEmpty()) return {};
      return notes.join(QLatin1Char('\n'));
    }
    default:
      return {};
  }
}

QVariant SurveyTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= table_.ColumnCount()) return {};
  if (role == Qt::DisplayRole) return SurveyColumnTitle(table_.columns[section]);
  return {};
}

}  // namespace kd735::report_app
