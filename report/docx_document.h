#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <pugixml.hpp>

namespace kd735 {

// Character format given to a piece of text; unset members leave the text's own format alone.
struct DocxRunFormat {
  std::optional<QString> fontName;
  std::optional<int> halfPoints;  // font size in half points, as the file stores it
  std::optional<bool> bold;
  std::optional<bool> italic;
  std::optional<QString> color;  // "auto" or RRGGBB
};

// A place in a table cell: the whole cell content, or a point at its start or end.
struct DocxRange {
  enum Kind { kWholeCell, kStart, kEnd };
  pugi::xml_node cell;
  Kind kind = kWholeCell;
};

// One .docx package held in memory: its parts as bytes, the XML parts that were read parsed, and
// the editing operations of the report. Parsed parts stay in memory until the package is written,
// so a run of edits costs one serialisation. Rows appended to a table are kept as XML text, a few
// kilobytes each, rather than as parsed trees ten times that size: a report of ten thousand
// blocks fits in memory. Not thread-safe; one owner at a time.
class DocxDocument {
 public:
  // Reads a package from the bytes of a .docx file. Returns null and an error text on failure.
  static std::unique_ptr<DocxDocument> Load(const QByteArray& bytes, QString* error);
  ~DocxDocument();

  // The whole package as .docx bytes; empty and an error text on failure.
  QByteArray Save(QString* error);

  // Document variables (settings part). Names compare without regard to case, as Word does.
  void SetVariable(const QString& name, const QString& value);
  std::optional<QString> Variable(const QString& name);

  // Rewrites the shown result of every DOCVARIABLE field (simple or complex) in the body, the
  // headers and the footers to its variable's value; a variable that is not set shows nothing.
  void UpdateFields();

  // Top-level tables of the body in document order, counted from 1.
  int TableCount();
  // Rows of a table, those appended included.
  int RowCount(int table);
  // A new row shaped like the last row of the table, with empty cells, to be filled cell by cell;
  // CommitRow appends it to the table as it then is. A null node when the table has no row.
  pugi::xml_node BeginRow(int table);
  void CommitRow();
  // A cell of the row, counted from 1, or a null node; the number of its cells.
  static pugi::xml_node RowCell(pugi::xml_node row, int column);
  static int RowCellCount(pugi::xml_node row);

  // Editing inside one cell.
  void SetAlignment(const DocxRange& range, const char* justification);
  // Replaces the range by the text (one paragraph per line) in the format; a point range gets
  // the text inserted there.
  void InsertText(const DocxRange& range, const QString& text, const DocxRunFormat& format);
  // Replaces the range by an inline PNG picture shown at its pixel size (96 pixels per inch).
  // Returns false and an error text when the document cannot take a picture.
  bool InsertPicture(const DocxRange& range, const QByteArray& png, int widthPx, int heightPx,
                     QString* error);

  // Appends, after the last table of the body (at the end of the text when there is none), a
  // heading paragraph in bold and a bordered table of two columns, one row per pair.
  void AppendSummary(const QString& heading, const std::vector<std::pair<QString, QString>>& rows,
                     const DocxRunFormat& format);

 private:
  struct Part {
    std::string name;
    std::string data;                         // bytes as read, or as last serialised
    std::unique_ptr<pugi::xml_document> xml;  // parsed on first use
    bool dirty = false;                       // xml changed since data was made
    bool store = false;                       // written without compression (pictures)
  };

  DocxDocument() = default;
  bool Init(QString* error);
  Part* FindPart(const std::string& name);
  // True when a new part may take the name: a valid part name, no part yet, and neither inside a
  // folder that is a part nor a folder of parts itself.
  bool CanAddPart(const std::string& name);
  // The main part, the content types, a relationships part, a header or a footer.
  bool IsStructuralPart(const std::string& name);
  Part& AddPart(const std::string& name, std::string data);
  pugi::xml_document& Xml(const std::string& name);
  void Touch(const std::string& name);
  std::string RelsPathOf(const std::string& partName) const;
  std::vector<std::string> RelatedParts(const char* typeSuffix);
  pugi::xml_node SettingsRoot();
  pugi::xml_node DocVar(const QString& name);
  void UpdateFieldsIn(const std::string& partName);
  const std::vector<pugi::xml_node>& Tables();
  std::vector<pugi::xml_node>& Rows(int table);
  // A piece of the main part as written out: text, or an appended row kept compressed.
  struct Piece {
    std::string_view text;
    const QByteArray* packed = nullptr;
    std::size_t size = 0;  // of the text, unpacked
  };
  // The main part as text, the rows appended to its tables in their places.
  std::vector<Piece> MainPartPieces(const std::string& text);
  pugi::xml_node AddImageRelationship(const QByteArray& png);
  std::string NewRelationshipId(pugi::xml_node relsRoot);
  bool EnsureDrawingNamespaces(QString* error);
  unsigned NextDrawingId();

  std::vector<std::unique_ptr<Part>> parts_;
  std::unordered_map<std::string, Part*> index_;  // by name folded to one letter case
  std::unordered_set<std::string> folders_;       // every folder of a part, folded likewise
  std::string mainPart_;
  std::string mainDir_;  // folder of the main part, with a trailing slash
  std::string settingsPart_;

  // Caches kept for the life of the package; only this class changes the tree.
  bool tablesScanned_ = false;
  std::vector<pugi::xml_node> tables_;
  std::unordered_map<int, std::vector<pugi::xml_node>> rows_;  // by table position
  // Rows appended to a table: the shape they are made in, and their XML in order, compressed (a
  // block's text repeats its run format on every line). A processing instruction behind the
  // table's last row of the tree marks where they go.
  struct PackedRow {
    QByteArray packed;
    std::size_t size = 0;
  };
  struct AppendedRows {
    std::unique_ptr<pugi::xml_document> shape;
    std::vector<PackedRow> rows;
    std::string marker;  // as the instruction is written out
  };
  std::unordered_map<int, AppendedRows> appended_;  // by table position
  std::unique_ptr<pugi::xml_document> newRow_;      // the row BeginRow made
  int newRowTable_ = 0;
  std::unordered_set<std::uint32_t> drawingIds_;  // every drawing id in use
  std::uint32_t nextDrawingId_ = 1;
  std::unordered_set<std::string> relIds_;  // ids of the main part's relationships
  std::uint64_t nextRelNumber_ = 1;
  bool relIdsScanned_ = false;
  int nextMediaNumber_ = 1;
  bool pngTypeKnown_ = false;
  bool drawingNamespacesChecked_ = false;
  QHash<QByteArray, QString> pictureRels_;  // PNG digest -> relationship id, to share pictures
  pugi::xml_document pictureRun_;           // prototype of an inline picture run
};

}  // namespace kd735
