#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

#include <utility>
#include <vector>

#include "report/report_settings.h"

// The word processor as the report sees it: documents made from a template, their variables,
// data blocks and a summary appended to their tables, a copy stored, the documents closed. Each
// step is one call, done natively by each engine (our own .docx files, or LibreOffice Writer
// through its helper process); the report's logic (numbering, settings, messages, status texts)
// lives above this port in WordReport.
//
// Contract for an engine that drives Microsoft Word through automation (a later Windows build):
// every call below maps onto the Word 97 object model in this order and nothing else.
//   Begin                 connect the application object (attach to a running Word, else start it)
//   End                   disconnect it (Word keeps running)
//   CreateDocument        Visible := true; Options.<one boolean> := true; Documents.Add(Template,
//                         False); Name of ActiveDocument
//   FillVariables         ActiveDocument.Variables.Item(name).Value := value for each, in order;
//                         ActiveDocument.Fields.Update
//   AppendBlock           Documents.Count (<= 0: no document); Tables.Item(n).Rows.Add;
//                         Tables.Item(n).Rows.Count -> r; Cell(r,1).Select; Alignment := 1;
//                         Selection.Text := number; Cell(r,2).Select; Alignment := 3; the picture
//                         to the clipboard; Selection.Paste; Cell(r,3).Select; Font.Name, Size,
//                         Bold, Italic, ColorIndex := 0; Alignment := 0; Selection.Text := lines
//                         each ended by CR LF; Selection.Collapse(0); Name. Tables.Item(n) is
//                         taken afresh for every step.
//   AppendSummary         Documents.Count; after the last table: a heading paragraph and a
//                         two-column table of the rows
//   CloseDocuments        Documents.Count; when above 0: Activate; Quit (arguments omitted)
//   Where, StoreCopy      ActiveDocument.FullName; ActiveDocument.SaveAs2 of a copy
// Word's own texts of a failure are returned unchanged in PortStatus.
namespace kd735 {

// Outcome of one call: success, or failure with the engine's (or word processor's) own text,
// which the report shows to the user unchanged.
class PortStatus {
 public:
  enum class Kind {
    kOk,
    kFailed,          // the call failed; the engine is still usable
    kConnectionLost,  // the word processor (or its helper) went away; the next Begin starts anew
  };

  PortStatus() = default;  // success
  static PortStatus Error(const QString& text, Kind kind = Kind::kFailed) {
    PortStatus s;
    s.kind_ = kind;
    s.text_ = text;
    return s;
  }
  bool ok() const { return kind_ == Kind::kOk; }
  explicit operator bool() const { return ok(); }
  Kind kind() const { return kind_; }
  bool connectionLost() const { return kind_ == Kind::kConnectionLost; }
  const QString& text() const { return text_; }

 private:
  Kind kind_ = Kind::kOk;
  QString text_;
};

// One document variable and the text it is set to.
struct DocumentVariable {
  QString name;
  QString value;
};

// Font sizes a word processor takes, in points (Word: 1 to 1638 in half-point steps). The block
// font the user chooses lies within kFontSizeRange, well inside.
inline constexpr double kMinFontPoints = 1.0;
inline constexpr double kMaxFontPoints = 1638.0;

// One data block: a new last row of table `tablePosition` (counted from 1 in the document's
// order) with `number` centred in cell 1, the picture justified in cell 2 at its pixel size
// (96 pixels per inch), and the lines, left aligned in `font` of the automatic colour, in cell 3.
struct DataBlock {
  int tablePosition = 1;
  int number = 0;
  QImage picture;
  QStringList lines;
  BlockFont font;
};

// How far a block got. A failure part way leaves what was done in the document, as Word would:
// the running number counts as used once its cell was reached, and the picture is on the
// report's clipboard once its cell was reached.
enum class BlockStage {
  kNone,         // no table at the position (or nothing done)
  kRowAdded,     // the new row is there
  kNumberCell,   // cell 1 was reached: the number is written there
  kPictureCell,  // cell 2 was reached: the picture is pasted there
  kComplete,     // cell 3 holds the lines
};

struct BlockOutcome {
  bool noDocument = false;  // no document was open: nothing was done
  BlockStage reached = BlockStage::kNone;
  QString documentName;  // of the active document, once the block is complete
};

// The statistics of a survey as a heading and a two-column table, appended after the document's
// last table (at the end of the text when it has none).
struct SummaryTable {
  QString heading;
  std::vector<std::pair<QString, QString>> rows;  // label, value
  BlockFont font;
};

struct SummaryOutcome {
  bool noDocument = false;
  QString documentName;
};

// Where the active document is.
struct DocumentPlace {
  QString name;  // the document's name as the word processor shows it
  QString file;  // the file it is kept in; empty while it lives only in the word processor
  bool shownToUser = false;  // the word processor shows it in a window the user can reach
};

struct CloseOutcome {
  int documents = 0;  // documents open before the call (0: nothing was closed)
  // Files the documents were stored to before they were closed, because the user had neither
  // seen nor saved them.
  QStringList keptFiles;
};

class ReportPort {
 public:
  virtual ~ReportPort() = default;

  // One user action runs between Begin and End: Begin attaches to (or starts) the word
  // processor; End shows or writes out what the action changed, and reports a failure to do so.
  // Begin/End pairs may nest; only the outermost pair counts. Every other call needs a Begin.
  virtual PortStatus Begin() = 0;
  virtual PortStatus End() = 0;

  // A new document from the template; it becomes the active document and is shown where the
  // engine has a window. `name` receives its name.
  virtual PortStatus CreateDocument(const QString& templatePath, QString* name) = 0;
  // The variables of the active document set in order, then every field updated.
  virtual PortStatus FillVariables(const std::vector<DocumentVariable>& variables) = 0;
  virtual PortStatus AppendBlock(const DataBlock& block, BlockOutcome* outcome) = 0;
  virtual PortStatus AppendSummary(const SummaryTable& summary, SummaryOutcome* outcome) = 0;
  // The active document's place; an error when there is none.
  virtual PortStatus Where(DocumentPlace* place) = 0;
  // A copy of the active document stored to `path` as .docx or .pdf, by the extension; the
  // file is written atomically and the document stays as it is.
  virtual PortStatus StoreCopy(const QString& path) = 0;
  // Every document the word processor holds is closed (the report's "close all": Word asks about
  // unsaved ones itself). Documents the user could not have seen are stored first.
  virtual PortStatus CloseDocuments(CloseOutcome* outcome) = 0;
};

}  // namespace kd735
