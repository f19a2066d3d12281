#include "files/file_list_model.h"

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QStringList>

#include "files/survey.h"

namespace kd735 {

QString FileListModel::IncompleteNote() {
  return QStringLiteral("файл прочитан из прибора не полностью");
}

QString FileListModel::BelowMinimumNote() {
  return QStringLiteral("ниже минимально допустимой толщины");
}

FileListModel::FileListModel(QObject* parent) : QAbstractListModel(parent) {}

FileListModel::~FileListModel() = default;

int FileListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : Count();
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
  const FileListEntry* entry = Entry(index.row());
  if (!entry || index.column() != 0) return {};
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
      return entry->text;
    case Qt::FontRole: {
      QFont bold;
      bold.setBold(true);
      return bold;
    }
    case Qt::ForegroundRole:
      if (entry->incomplete) return QBrush(QColor(200, 0, 0));
      return {};
    case Qt::DecorationRole:
      if (BelowMinimum(index.row())) return belowMinimumIcon_;
      return {};
    case Qt::ToolTipRole: {
      QStringList notes;
      if (entry->incomplete) notes << QStringLiteral("Внимание: ") + IncompleteNote();
      if (BelowMinimum(index.row())) notes << BelowMinimumNote();
      if (notes.isEmpty()) return {};
      return notes.join(QLatin1Char('\n'));
    }
    case Qt::AccessibleTextRole:
      if (entry->incomplete) return entry->text + QStringLiteral(" (") + IncompleteNote() + ')';
      return entry->text;
    case Qt::AccessibleDescriptionRole:
      if (BelowMinimum(index.row())) return BelowMinimumNote();
      return {};
    default:
      return {};
  }
}

void FileListModel::Append(FileListEntry entry) {
  const int row = Count();
  beginInsertRows(QModelIndex(), row, row);
  entries_.push_back(std::move(entry));
  endInsertRows();
}

void FileListModel::Remove(int row) {
  if (row < 0 || row >= Count()) return;
  beginRemoveRows(QModelIndex(), row, row);
  entries_.erase(entries_.begin() + row);
  endRemoveRows();
}

void FileListModel::Clear() {
  if (entries_.empty()) return;
  beginResetModel();
  for (FileListEntry& e : entries_) e.content.reset();
  entries_.clear();
  endResetModel();
}

const FileListEntry* FileListModel::Entry(int row) const {
  if (row < 0 || row >= Count()) return nullptr;
  return &entries_[static_cast<std::size_t>(row)];
}

const TKD735FileContent* FileListModel::Content(int row) const {
  const FileListEntry* entry = Entry(row);
  return entry ? entry->content.get() : nullptr;
}

void FileListModel::SetMinimumAllowed(std::optional<std::int64_t> hundredths) {
  if (hundredths == minimumAllowed_) return;
  minimumAllowed_ = hundredths;
  if (Count() > 0)
    Q_EMIT dataChanged(index(0), index(Count() - 1),
                       {Qt::DecorationRole, Qt::ToolTipRole, Qt::AccessibleDescriptionRole});
}

bool FileListModel::BelowMinimum(int row) const {
  const FileListEntry* entry = Entry(row);
  if (!minimumAllowed_ || !entry || !entry->content || entry->incomplete) return false;
  const std::optional<std::int32_t> h = ThicknessReading(*entry->content);
  return h && *h < *minimumAllowed_;
}

}  // namespace kd735
