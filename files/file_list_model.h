#pragma once

#include <QAbstractListModel>
#include <QString>
#include <memory>
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
// sorted), texts in bold; an incomplete file is marked. The model owns every entry's record.
class FileListModel final : public QAbstractListModel {
  Q_OBJECT

 public:
  // The marker of an entry read without all of its packets.
  static QString IncompleteNote();

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

 private:
  std::vector<FileListEntry> entries_;
};

}  // namespace kd735
