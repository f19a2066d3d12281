#pragma once

#include <QAbstractListModel>
#include <QIcon>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "files/file_record.h"

namespace kd735 {

// One entry of a file list: its text and the record it owns.
struct FileListEntry {
  QString text;
  std::unique_ptr<TKD735FileContent> content;  // null: an entry without data
  // Read from the instrument without all of its packets; the missing parts are zero.
  bool incomplete = false;
};

// A list of instrument files as the window shows it: entries in the order they were added (never
// sorted), texts in bold; an incomplete file is marked, and so, while a minimum allowed thickness
// is set, is a reading below it. The model owns every entry's record.
class FileListModel final : public QAbstractListModel {
  Q_OBJECT

 public:
  // The marker of an entry read without all of its packets.
  static QString IncompleteNote();
  // The reason a reading is marked.
  static QString BelowMinimumNote();

  explicit FileListModel(QObject* parent = nullptr);
  ~FileListModel() override;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;

  void Append(FileListEntry entry);
  // Destroys the entry and its record.
  void Remove(int row);
  // Destroys every record, then empties the list in one update.
  void Clear();

  int Count() const { return static_cast<int>(entries_.size()); }
  const FileListEntry* Entry(int row) const;
  const TKD735FileContent* Content(int row) const;

  // The minimum allowed thickness in hundredths of a mm; none: nothing is marked.
  void SetMinimumAllowed(std::optional<std::int64_t> hundredths);
  std::optional<std::int64_t> MinimumAllowed() const { return minimumAllowed_; }
  // A valid reading of a complete file, below the minimum.
  bool BelowMinimum(int row) const;
  // The picture beside a marked entry (the model draws none itself).
  void SetBelowMinimumIcon(const QIcon& icon) { belowMinimumIcon_ = icon; }

 private:
  std::vector<FileListEntry> entries_;
  std::optional<std::int64_t> minimumAllowed_;
  QIcon belowMinimumIcon_;
};

}  // namespace kd735
