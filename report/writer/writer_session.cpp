#include "report/writer/writer_session.h"

#include <sal/config.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <vector>

#include <unistd.h>

#include <cppuhelper/bootstrap.hxx>
#include <cppuhelper/exc_hlp.hxx>
#include <cppuhelper/implbase1.hxx>
#include <osl/file.hxx>
#include <rtl/bootstrap.hxx>
#include <rtl/ref.hxx>
#include <rtl/ustrbuf.hxx>
#include <rtl/ustring.hxx>

#include <com/sun/star/awt/FontSlant.hpp>
#include <com/sun/star/awt/FontWeight.hpp>
#include <com/sun/star/awt/Size.hpp>
#include <com/sun/star/awt/XTopWindow.hpp>
#include <com/sun/star/awt/XWindow.hpp>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XMultiPropertySet.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/bridge/XBridge.hpp>
#include <com/sun/star/bridge/XBridgeFactory2.hpp>
#include <com/sun/star/connection/Connector.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/connection/XConnection.hpp>
#include <com/sun/star/connection/XConnector.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/XUndoManager.hpp>
#include <com/sun/star/document/XUndoManagerSupplier.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/frame/XFrame.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/frame/XTerminateListener.hpp>
#include <com/sun/star/frame/XTitle.hpp>
#include <com/sun/star/graphic/GraphicProvider.hpp>
#include <com/sun/star/graphic/XGraphic.hpp>
#include <com/sun/star/graphic/XGraphicProvider.hpp>
#include <com/sun/star/io/SequenceInputStream.hpp>
#include <com/sun/star/io/XInputStream.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/lang/XEventListener.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/style/ParagraphAdjust.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/table/XTableRows.hpp>
#include <com/sun/star/text/ControlCharacter.hpp>
#include <com/sun/star/text/TextContentAnchorType.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/text/XTextContent.hpp>
#include <com/sun/star/text/XTextCursor.hpp>
#include <com/sun/star/text/XTextDocument.hpp>
#include <com/sun/star/text/XTextFieldsSupplier.hpp>
#include <com/sun/star/text/XTextTable.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/util/XModifiable.hpp>
#include <com/sun/star/util/XRefreshable.hpp>

#include "report/writer_pipe.h"
#include "report/writer_protocol.h"

namespace kd735::writer {

namespace {

using namespace com::sun::star;
using rtl::OUString;
using uno::Any;
using uno::Reference;
using uno::Sequence;
using uno::UNO_QUERY;
using uno::UNO_QUERY_THROW;
namespace wp = kd735::writer_protocol;

OUString FromUtf8(std::string_view s) {
  return OUString(s.data(), static_cast<sal_Int32>(s.size()), RTL_TEXTENCODING_UTF8);
}

std::string ToUtf8(const OUString& s) {
  const rtl::OString o = rtl::OUStringToOString(s, RTL_TEXTENCODING_UTF8);
  return std::string(o.getStr(), static_cast<std::size_t>(o.getLength()));
}

// A failure the helper finds itself, with the text the user sees.
struct Failure {
  std::string text;
  std::uint8_t flags = 0;
};

const char kOutOfRange[] = "Значение вне допустимого диапазона.";
const char kNotConnected[] = "Нет связи с LibreOffice Writer.";
const char kNoDocuments[] = "Эта команда недоступна, так как нет открытых документов.";

// Sets its flag when the object it listens to goes away. LibreOffice calls it on a bridge thread
// and waits for it to return: it touches nothing but the flag.
class DisposedFlag : public cppu::WeakImplHelper1<lang::XEventListener> {
 public:
  void SAL_CALL disposing(const lang::EventObject&) override { disposed_.store(true); }
  bool disposed() const { return disposed_.load(); }

 private:
  std::atomic<bool> disposed_{false};
};

// Sets its flag when LibreOffice is about to end (File > Exit, or another client's terminate), so
// the next action starts a new one instead of talking to one that is shutting down. Called on a
// bridge thread: it only sets the flag, and never vetoes.
class EndingFlag : public cppu::WeakImplHelper1<frame::XTerminateListener> {
 public:
  void SAL_CALL queryTermination(const lang::EventObject&) override {}
  void SAL_CALL notifyTermination(const lang::EventObject&) override { ending_.store(true); }
  void SAL_CALL disposing(const lang::EventObject&) override { ending_.store(true); }
  bool ending() const { return ending_.load(); }

 private:
  std::atomic<bool> ending_{false};
};

beans::PropertyValue Property(const char* name, const Any& value) {
  beans::PropertyValue p;
  p.Name = OUString::createFromAscii(name);
  p.Value = value;
  return p;
}

// The public UNO API has no initializer-list constructor for sequences.
Sequence<beans::PropertyValue> Properties(std::initializer_list<beans::PropertyValue> list) {
  return Sequence<beans::PropertyValue>(list.begin(), static_cast<sal_Int32>(list.size()));
}

// Property names and values for one setPropertyValues call; the names in alphabetical order, as
// the interface asks.
class PropertyValues {
 public:
  PropertyValues& Add(const char* name, const Any& value) {
    names_.push_back(OUString::createFromAscii(name));
    values_.push_back(value);
    return *this;
  }
  void ApplyTo(const Reference<beans::XMultiPropertySet>& target) const {
    target->setPropertyValues(
        Sequence<OUString>(names_.data(), static_cast<sal_Int32>(names_.size())),
        Sequence<Any>(values_.data(), static_cast<sal_Int32>(values_.size())));
  }

 private:
  std::vector<OUString> names_;
  std::vector<Any> values_;
};

OUString FileUrl(const std::string& path) {
  OUString url;
  if (path.empty() || path[0] != '/' ||
      osl::FileBase::getFileURLFromSystemPath(FromUtf8(path), url) != osl::FileBase::E_None)
    throw Failure{"Неверное имя файла: " + path};
  return url;
}

std::string BaseName(const std::string& path) {
  std::string name = path.substr(path.rfind('/') + 1);
  if (const std::size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0)
    name.resize(dot);
  return name;
}

// Writer's name of a column: A to Z, then a to z, then two letters.
OUString ColumnName(int column) {
  OUString name;
  int c = column;
  for (;;) {
    const int digit = c % 52;
    const sal_Unicode ch = digit < 26 ? sal_Unicode('A' + digit) : sal_Unicode('a' + digit - 26);
    name = OUString(ch) + name;
    c -= digit;
    if (c == 0) break;
    c = c / 52 - 1;
  }
  return name;
}

OUString CellName(int column, int row) { return ColumnName(column - 1) + OUString::number(row); }

constexpr sal_Int32 kAutomaticColor = -1;

// Word's text in Writer's terms: every line break becomes a paragraph break, and a break that
// ends the text ends its last paragraph instead of opening an empty one.
OUString ParagraphText(std::string_view utf8) {
  const OUString in = FromUtf8(utf8);
  rtl::OUStringBuffer out(in.getLength());
  for (sal_Int32 i = 0; i < in.getLength(); ++i) {
    const sal_Unicode c = in[i];
    if (c == '\r' && i + 1 < in.getLength() && in[i + 1] == '\n') continue;
    out.append(c == '\n' ? sal_Unicode('\r') : c);
  }
  if (out.getLength() > 0 && out[out.getLength() - 1] == '\r') out.setLength(out.getLength() - 1);
  return out.makeStringAndClear();
}

// The lines of a block, each ended by a line break, as Word is given them.
OUString LinesText(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return ParagraphText(text);
}

sal_Int16 Adjust(int alignment) {
  switch (alignment) {
    case 0:
      return static_cast<sal_Int16>(style::ParagraphAdjust_LEFT);
    case 1:
      return static_cast<sal_Int16>(style::ParagraphAdjust_CENTER);
    case 2:
      return static_cast<sal_Int16>(style::ParagraphAdjust_RIGHT);
    case 3:
      return static_cast<sal_Int16>(style::ParagraphAdjust_BLOCK);
    default:
      throw Failure{kOutOfRange};
  }
}

// The character format of a block font, with the automatic colour.
PropertyValues& AddFont(PropertyValues& p, const wp::Font& font) {
  return p.Add("CharColor", Any(kAutomaticColor))
      .Add("CharFontName", Any(FromUtf8(font.name)))
      .Add("CharHeight", Any(static_cast<float>(font.centipoints) / 100.0f))
      .Add("CharPosture", Any(font.italic ? awt::FontSlant_ITALIC : awt::FontSlant_NONE))
      .Add("CharWeight", Any(font.bold ? awt::FontWeight::BOLD : awt::FontWeight::NORMAL));
}

void CheckFont(const wp::Font& font) {
  if (font.centipoints < 100 || font.centipoints > 163800) throw Failure{kOutOfRange};
}

}  // namespace

struct WriterSession::State {
  struct Document {
    int id = 0;
    Reference<uno::XInterface> identity;
    Reference<frame::XModel> model;
    rtl::Reference<DisposedFlag> closed;
    bool ours = false;    // made by this helper
    bool hidden = false;  // opened without a window
    bool kept = false;    // stored to a file since its last change
    std::string name;     // what a stored copy is called: the template's name, or the title
    bool locked = false;  // its layout and undo held back by this action
    Reference<document::XUndoManager> undo;
    std::string title;  // as Writer shows it, found once per action
    // The top-level tables in order and their rows, found in this action.
    bool tablesWalked = false;
    std::vector<Reference<text::XTextTable>> bodyTables;
    Reference<text::XTextRange> afterTables;  // the paragraph after the last table
    std::map<int, Reference<table::XTableRows>> rows;
    // Blank rows added ahead at the end of a table in this action, by the table's position: Writer
    // lays the table out anew at every insertion of rows, whatever holds the layout back, so a
    // "send all" adds them a few at a time.
    struct Spare {
      sal_Int32 rows = 0;   // still blank, at the table's end
      sal_Int32 total = 0;  // the table's rows with them
      sal_Int32 batch = 1;  // how many the next insertion adds
    };
    std::map<int, Spare> spare;
  };
  static constexpr sal_Int32 kMostSpareRows = 15;
  Reference<uno::XComponentContext> local;
  std::string pipe;
  std::string endingPipe;  // the pipe of a LibreOffice known to be ending, until it is closed
  Reference<lang::XComponent> bridge;
  rtl::Reference<DisposedFlag> bridgeGone;
  rtl::Reference<EndingFlag> officeEnding;
  Reference<uno::XComponentContext> remote;
  Reference<frame::XDesktop2> desktop;
  Reference<graphic::XGraphicProvider> graphics;
  std::map<std::string, Reference<graphic::XGraphic>> pictures;  // PNG bytes -> graphic
  std::vector<Document> documents;
  int nextId = 1;
  int lastAdded = 0;
  bool inAction = false;   // between the program's Begin and End
  int actionDocument = 0;  // the active document, once found in this action
  int failedDocument = 0;  // the document the running request works on, for its failure flags

  // ---- connection ----

  void LocalContext() {
    if (local.is()) return;
    OUString ini;
    if (!rtl::Bootstrap::get("URE_BOOTSTRAP", ini)) {
      const char* unoPath = std::getenv("UNO_PATH");
      const std::string dir = unoPath && *unoPath ? unoPath : KD735_LO_PROGRAM_DIR;
      rtl::Bootstrap::set("URE_BOOTSTRAP",
                          "vnd.sun.star.pathname:" + FromUtf8(dir) + "/fundamentalrc");
    }
    local = cppu::defaultBootstrap_InitialComponentContext();
  }

  bool Connected() const {
    return desktop.is() && bridgeGone.is() && !bridgeGone->disposed() && officeEnding.is() &&
           !officeEnding->ending();
  }

  void Drop() {
    documents.clear();
    lastAdded = 0;
    actionDocument = 0;
    pictures.clear();
    graphics.clear();
    desktop.clear();
    remote.clear();
    if (bridge.is()) {
      try {
        bridge->dispose();
      } catch (const uno::Exception&) {
      }
    }
    bridge.clear();
    bridgeGone.clear();
    officeEnding.clear();
  }

  // Attaching begins an action; a failure to attach leaves none begun.
  void Attach(const wp::Attach& r, wp::Attach::Result& out) {
    ForgetAction();
    inAction = false;
    if (officeEnding.is() && officeEnding->ending()) endingPipe = pipe;
    if (Connected() && r.pipe == pipe) {
      try {
        desktop->getCurrentComponent();  // answers when LibreOffice is alive and responsive
        out.state = static_cast<std::uint8_t>(wp::AttachState::kAttached);
        inAction = true;
        return;
      } catch (const uno::Exception&) {
      }
    }
    Drop();
    if (!writer_pipe::ValidName(r.pipe))
      throw Failure{"Неверное имя канала LibreOffice: " + r.pipe};
    // The socket is checked right before connecting: a foreign one would receive the report.
    const std::string socket = writer_pipe::SocketPath(r.pipe, getuid());
    std::string reason;
    const writer_pipe::Check check = writer_pipe::CheckSocket(socket, geteuid(), &reason);
    if (check == writer_pipe::Check::kRefused) throw Failure{reason};
    out.state = static_cast<std::uint8_t>(wp::AttachState::kNobody);
    if (check == writer_pipe::Check::kAbsent) {
      if (endingPipe == r.pipe) endingPipe.clear();
      return;
    }
    LocalContext();
    Reference<connection::XConnection> connection;
    try {
      connection = connection::Connector::create(local)->connect("pipe,name=" + FromUtf8(r.pipe));
    } catch (const connection::NoConnectException&) {
      if (endingPipe == r.pipe) endingPipe.clear();
      return;
    }
    if (endingPipe == r.pipe) {
      // A LibreOffice that is ending still takes connections for a moment.
      connection->close();
      out.state = static_cast<std::uint8_t>(wp::AttachState::kEnding);
      return;
    }
    Reference<bridge::XBridge> b = bridge::BridgeFactory::create(local)->createBridge(
        OUString(), "urp", connection, Reference<bridge::XInstanceProvider>());
    bridge.set(b, UNO_QUERY_THROW);
    bridgeGone = new DisposedFlag;
    bridge->addEventListener(Reference<lang::XEventListener>(bridgeGone.get()));
    try {
      remote.set(b->getInstance("StarOffice.ComponentContext"), UNO_QUERY_THROW);
      desktop = frame::Desktop::create(remote);
      officeEnding = new EndingFlag;
      desktop->addTerminateListener(Reference<frame::XTerminateListener>(officeEnding.get()));
    } catch (const uno::RuntimeException&) {
      Drop();  // it dropped the connection: ending as well
      out.state = static_cast<std::uint8_t>(wp::AttachState::kEnding);
      return;
    }
    pipe = r.pipe;
    ReleaseLeftHolds();
    out.state = static_cast<std::uint8_t>(wp::AttachState::kAttached);
    inAction = true;
  }

  void RequireConnection() const {
    if (!desktop.is()) throw Failure{kNotConnected, wp::kConnectionLost};
  }

  // ---- documents ----

  Document& Register(const Reference<frame::XModel>& model, bool ours) {
    Reference<uno::XInterface> identity(model, UNO_QUERY);
    for (Document& d : documents)
      if (d.identity == identity && !d.closed->disposed()) return d;
    std::erase_if(documents, [](const Document& d) { return d.closed->disposed(); });
    Document d;
    d.id = nextId++;
    d.identity = identity;
    d.model = model;
    d.closed = new DisposedFlag;
    d.ours = ours;
    Reference<lang::XComponent>(model, UNO_QUERY_THROW)
        ->addEventListener(Reference<lang::XEventListener>(d.closed.get()));
    documents.push_back(d);
    return documents.back();
  }

  Document* Known(int id) {
    for (Document& d : documents)
      if (d.id == id && !d.closed->disposed()) return &d;
    return nullptr;
  }

  static bool IsTextDocument(const Reference<uno::XInterface>& component) {
    return Reference<text::XTextDocument>(component, UNO_QUERY).is();
  }

  std::vector<Reference<frame::XModel>> TextDocuments() {
    RequireConnection();
    std::vector<Reference<frame::XModel>> out;
    Reference<container::XEnumeration> e = desktop->getComponents()->createEnumeration();
    while (e->hasMoreElements()) {
      Reference<frame::XModel> model(e->nextElement(), UNO_QUERY);
      if (model.is() && IsTextDocument(model)) out.push_back(model);
    }
    return out;
  }

  // Word's ActiveDocument: the document of LibreOffice's active window; without one (a hidden
  // or headless LibreOffice) the document made last, as it would be in Word; after that any
  // text document. Zero when there is none.
  int ActiveId() {
    RequireConnection();
    Reference<lang::XComponent> current = desktop->getCurrentComponent();
    if (current.is() && IsTextDocument(current))
      return Register(Reference<frame::XModel>(current, UNO_QUERY_THROW), false).id;
    if (Known(lastAdded)) return lastAdded;
    Reference<frame::XModel> any;
    for (const Reference<frame::XModel>& m : TextDocuments()) any = m;
    return any.is() ? Register(any, false).id : 0;
  }

  // The active document of the running action: looked up once per action, as long as it stays
  // open.
  Document* Active() {
    RequireConnection();
    if (Document* d = inAction ? Known(actionDocument) : nullptr) {
      failedDocument = d->id;
      return d;
    }
    const int id = ActiveId();
    if (inAction) actionDocument = id;
    failedDocument = id;
    return Known(id);
  }

  Document& RequireActive() {
    Document* d = Active();
    if (!d) throw Failure{kNoDocuments};
    return *d;
  }

  static Reference<awt::XWindow> ContainerWindow(const Reference<frame::XModel>& model) {
    Reference<frame::XController> c = model->getCurrentController();
    if (!c.is()) return {};
    Reference<frame::XFrame> f = c->getFrame();
    return f.is() ? f->getContainerWindow() : Reference<awt::XWindow>();
  }

  std::string Title(Document& d) {
    if (d.title.empty() || !inAction)
      d.title = ToUtf8(Reference<frame::XTitle>(d.model, UNO_QUERY_THROW)->getTitle());
    return d.title;
  }

  Document& Load(const std::string& path, bool hidden) {
    RequireConnection();
    Reference<lang::XComponent> component = desktop->loadComponentFromURL(
        FileUrl(path), "_blank", 0,
        Properties({Property("AsTemplate", Any(true)), Property("Hidden", Any(hidden)),
                    Property("MacroExecutionMode", Any(document::MacroExecMode::NEVER_EXECUTE))}));
    if (!component.is()) throw Failure{"LibreOffice Writer не смог открыть шаблон " + path + "."};
    if (!IsTextDocument(component)) {
      if (Reference<util::XCloseable> c(component, UNO_QUERY); c.is()) c->close(true);
      throw Failure{"Файл " + path + " не является текстовым документом."};
    }
    Document& d = Register(Reference<frame::XModel>(component, UNO_QUERY_THROW), true);
    d.hidden = hidden;
    d.name = BaseName(path);
    lastAdded = d.id;
    actionDocument = d.id;
    return d;
  }

  void CreateDocument(const wp::CreateDocument& r, wp::CreateDocument::Result& out) {
    Document& d = Load(r.templatePath, r.hidden);
    failedDocument = d.id;
    out.name = Title(d);
  }

  void SetVariable(Document& d, const std::string& name, const std::string& value) {
    if (name.find_first_not_of(" \t") == std::string::npos)
      throw Failure{"Имя переменной документа не задано."};
    Reference<text::XTextFieldsSupplier> fields(d.model, UNO_QUERY_THROW);
    Reference<container::XNameAccess> masters = fields->getTextFieldMasters();
    const OUString prefix = "com.sun.star.text.fieldmaster.User.";
    const OUString wanted = prefix + FromUtf8(name);
    // A DOCVARIABLE field of a Word document arrives as a user field; its master holds the value.
    Reference<beans::XPropertySet> master;
    if (masters->hasByName(wanted)) {
      master.set(masters->getByName(wanted), UNO_QUERY_THROW);
    } else {
      // Word's variable names ignore case.
      const Sequence<OUString> names = masters->getElementNames();
      for (sal_Int32 i = 0; i < names.getLength() && !master.is(); ++i)
        if (names[i].equalsIgnoreAsciiCase(wanted))
          master.set(masters->getByName(names[i]), UNO_QUERY_THROW);
    }
    if (!master.is()) {
      // A variable the template lacks is made, as Word does; it is kept in the document.
      Reference<lang::XMultiServiceFactory> factory(d.model, UNO_QUERY_THROW);
      master.set(factory->createInstance("com.sun.star.text.fieldmaster.User"), UNO_QUERY_THROW);
      master->setPropertyValue("Name", Any(FromUtf8(name)));
    }
    master->setPropertyValue("Content", Any(FromUtf8(value)));
    d.kept = false;
  }

  static void FieldsUpdate(Document& d) {
    Reference<text::XTextFieldsSupplier> fields(d.model, UNO_QUERY_THROW);
    Reference<util::XRefreshable>(fields->getTextFields(), UNO_QUERY_THROW)->refresh();
  }

  void FillVariables(const wp::FillVariables& r, wp::NoResult&) {
    Document& d = RequireActive();
    for (const auto& [name, value] : r.variables) SetVariable(d, name, value);
    FieldsUpdate(d);
  }

  // Word's Tables(n): the n-th table of the body in document order. Tables nested in cells and
  // tables of headers and footers do not count (Writer's own table list holds them, and a nested
  // table there even comes before its outer table), so the body is walked through.
  //
  // The walk costs a remote call per paragraph, so its list serves the blocks of one action and
  // is made anew by the next: a table the user adds or removes between two actions is seen.
  std::vector<Reference<text::XTextTable>>& BodyTables(Document& d) {
    if (!d.tablesWalked) {
      d.bodyTables.clear();
      d.afterTables.clear();
      d.rows.clear();
      Reference<text::XTextDocument> doc(d.model, UNO_QUERY_THROW);
      Reference<container::XEnumerationAccess> body(doc->getText(), UNO_QUERY_THROW);
      Reference<container::XEnumeration> e = body->createEnumeration();
      bool afterTable = false;
      while (e->hasMoreElements()) {
        const Any element = e->nextElement();
        Reference<text::XTextTable> t(element, UNO_QUERY);
        if (t.is()) {
          d.bodyTables.push_back(t);
          afterTable = true;
        } else if (afterTable) {
          d.afterTables.set(element, UNO_QUERY);
          afterTable = false;
        }
      }
      d.tablesWalked = inAction;
    }
    return d.bodyTables;
  }

  Reference<text::XTextTable> Table(Document& d, int position) {
    const auto& tables = BodyTables(d);
    if (position < 1 || position > static_cast<int>(tables.size()))
      throw Failure{"Запрошенная таблица не существует: в документе нет таблицы с номером " +
                    std::to_string(position) +
                    " (таблиц в документе: " + std::to_string(tables.size()) + ")."};
    return tables[static_cast<std::size_t>(position - 1)];
  }

  Reference<table::XTableRows> Rows(Document& d, int position) {
    Reference<text::XTextTable> t = Table(d, position);
    Reference<table::XTableRows>& rows = d.rows[position];
    if (!rows.is() || !d.tablesWalked) rows = t->getRows();
    return rows;
  }

  // The row a new block goes into: the first blank one added ahead when the table is as this
  // action left it, else new ones at the end, one at first and more at a time as the action goes
  // on.
  sal_Int32 NewRow(Document& d, int position) {
    Reference<table::XTableRows> rows = Rows(d, position);
    const sal_Int32 count = rows->getCount();
    Document::Spare& s = d.spare[position];
    if (s.rows > 0 && count == s.total) return count - s.rows-- + 1;
    const sal_Int32 n = inAction ? s.batch : 1;
    rows->insertByIndex(count, n);
    s = {n - 1, count + n, std::min(2 * n, kMostSpareRows + 1)};
    return count + 1;
  }

  // Blank rows added ahead and not used go before anything but a block is done, and at the
  // action's end. Where the user has changed the table meanwhile they stay: which rows they are
  // is no longer certain.
  void TrimSpareRows() {
    for (Document& d : documents) {
      for (auto& [position, s] : d.spare) {
        if (s.rows <= 0 || d.closed->disposed()) continue;
        try {
          Reference<table::XTableRows> rows = Rows(d, position);
          const sal_Int32 count = rows->getCount();
          if (count == s.total) rows->removeByIndex(count - s.rows, s.rows);
        } catch (...) {
        }
      }
      d.spare.clear();
    }
  }

  // A new action: what was learnt about the documents is dropped.
  void ForgetAction() {
    actionDocument = 0;
    for (Document& d : documents) {
      d.title.clear();
      d.tablesWalked = false;
      d.bodyTables.clear();
      d.rows.clear();
    }
  }

  // Each new row makes Writer lay out the table anew, and keeps a copy of the whole table for its
  // undo, at costs that grow with the table. Within one action (a "send all" of many blocks)
  // the layout is held back and done once, at its end, and the action's changes are not
  // recorded for undo.
  void HoldLayout(Document& d) {
    if (!inAction || d.locked) return;
    d.model->lockControllers();
    d.locked = true;
    d.undo = Reference<document::XUndoManagerSupplier>(d.model, UNO_QUERY_THROW)->getUndoManager();
    d.undo->lock();
  }

  // A helper ended in the middle of an action (it did not answer in time) leaves its documents'
  // layout and undo held back; a new connection gives them back.
  void ReleaseLeftHolds() {
    try {
      for (const Reference<frame::XModel>& model : TextDocuments()) {
        for (int i = 0; i < 1000 && model->hasControllersLocked(); ++i) model->unlockControllers();
        Reference<document::XUndoManager> undo =
            Reference<document::XUndoManagerSupplier>(model, UNO_QUERY_THROW)->getUndoManager();
        for (int i = 0; i < 1000 && undo->isLocked(); ++i) undo->unlock();
      }
    } catch (const uno::Exception&) {
    }
  }

  void EndAction(const wp::EndAction&, wp::NoResult&) {
    inAction = false;
    ForgetAction();
    for (Document& d : documents) {
      if (!d.locked) continue;
      d.locked = false;
      if (d.closed->disposed()) continue;
      try {
        d.model->unlockControllers();
        if (d.undo.is()) d.undo->unlock();
      } catch (const uno::Exception&) {
      }
      d.undo.clear();
    }
  }

  // The cell of a table, or the failure Word gives for a cell that is not there.
  // `spare`: blank rows added ahead, which the user is not told of.
  static Reference<text::XText> Cell(const Reference<text::XTextTable>& t, int position, int row,
                                     int column, sal_Int32 spare = 0) {
    Reference<table::XCell> cell;
    if (row >= 1 && column >= 1) cell = t->getCellByName(CellName(column, row));
    if (!cell.is())
      throw Failure{"Запрошенная ячейка не существует: в таблице " + std::to_string(position) +
                    " нет ячейки (" + std::to_string(row) + ", " + std::to_string(column) +
                    ") (строк: " + std::to_string(t->getRows()->getCount() - spare) + ")."};
    return Reference<text::XText>(cell, UNO_QUERY_THROW);
  }

  // The whole content of a cell replaced by `text`, then formatted: Word's Cell.Select,
  // Selection.Text and the format of the selection, in one pass.
  static void WriteCell(const Reference<text::XText>& cell, const OUString& text,
                        const PropertyValues& format) {
    Reference<text::XTextCursor> cursor =
        cell->createTextCursorByRange(Reference<text::XTextRange>(cell.get()));
    cursor->setString(text);  // the cursor then spans the new text
    format.ApplyTo(Reference<beans::XMultiPropertySet>(cursor, UNO_QUERY_THROW));
  }

  Reference<graphic::XGraphic> Graphic(const std::string& png) {
    if (auto it = pictures.find(png); it != pictures.end()) return it->second;
    if (!graphics.is()) graphics = graphic::GraphicProvider::create(remote);
    const Sequence<sal_Int8> bytes(reinterpret_cast<const sal_Int8*>(png.data()),
                                   static_cast<sal_Int32>(png.size()));
    Reference<io::XInputStream> in(io::SequenceInputStream::createStreamFromSequence(remote, bytes),
                                   UNO_QUERY_THROW);
    Reference<graphic::XGraphic> graphic =
        graphics->queryGraphic(Properties({Property("InputStream", Any(in))}));
    if (!graphic.is()) throw Failure{"LibreOffice Writer не смог прочитать рисунок."};
    // The same picture (a file sent twice) is read once; a "send all" of different pictures
    // does not pile them up.
    if (pictures.size() >= 64) pictures.clear();
    pictures.emplace(png, graphic);
    return graphic;
  }

  // The picture as a character of its own, at 96 pixels per inch (sizes in 1/100 mm), put at
  // `at` in `text`.
  void InsertPicture(Document& d, const Reference<text::XText>& text,
                     const Reference<text::XTextRange>& at, const std::string& png, int width,
                     int height) {
    if (width < 1 || height < 1 || width > 10000 || height > 10000) throw Failure{kOutOfRange};
    Reference<graphic::XGraphic> graphic = Graphic(png);
    Reference<lang::XMultiServiceFactory> factory(d.model, UNO_QUERY_THROW);
    Reference<text::XTextContent> object(
        factory->createInstance("com.sun.star.text.TextGraphicObject"), UNO_QUERY_THROW);
    const Any size(awt::Size(static_cast<sal_Int32>(std::lround(width * 2540.0 / 96.0)),
                             static_cast<sal_Int32>(std::lround(height * 2540.0 / 96.0))));
    // Writer's picture objects take their properties one at a time.
    Reference<beans::XPropertySet> properties(object, UNO_QUERY_THROW);
    properties->setPropertyValue("AnchorType", Any(text::TextContentAnchorType_AS_CHARACTER));
    properties->setPropertyValue("Graphic", Any(graphic));
    properties->setPropertyValue("Size", size);
    text->insertTextContent(at, object, true);
  }

  // A data block in one request: a new last row of table n; the number centred in cell 1;
  // the picture justified in cell 2; the lines, left aligned in the block font, in cell 3. The
  // stage reached is in the reply also when a step fails.
  void AppendBlock(const wp::AppendBlock& r, wp::AppendBlock::Result& out) {
    CheckFont(r.font);
    Document* d = Active();
    if (!d) {
      out.noDocument = true;
      return;
    }
    HoldLayout(*d);
    Reference<text::XTextTable> table = Table(*d, r.table);
    const sal_Int32 row = NewRow(*d, r.table);
    const sal_Int32 spare = d->spare[r.table].rows;
    d->kept = false;
    out.stage = static_cast<std::uint8_t>(wp::Stage::kRowAdded);

    Reference<text::XText> number = Cell(table, r.table, row, 1, spare);
    out.stage = static_cast<std::uint8_t>(wp::Stage::kNumberCell);
    WriteCell(number, OUString::number(r.number),
              PropertyValues().Add("ParaAdjust", Any(Adjust(1))));

    Reference<text::XText> picture = Cell(table, r.table, row, 2, spare);
    out.stage = static_cast<std::uint8_t>(wp::Stage::kPictureCell);
    Reference<text::XTextCursor> at =
        picture->createTextCursorByRange(Reference<text::XTextRange>(picture.get()));
    Reference<beans::XPropertySet>(at, UNO_QUERY_THROW)
        ->setPropertyValue("ParaAdjust", Any(Adjust(3)));
    InsertPicture(*d, picture, Reference<text::XTextRange>(at.get()), r.png, r.width, r.height);

    Reference<text::XText> lines = Cell(table, r.table, row, 3, spare);
    PropertyValues format;
    AddFont(format, r.font).Add("ParaAdjust", Any(Adjust(0)));
    WriteCell(lines, LinesText(r.lines), format);
    out.stage = static_cast<std::uint8_t>(wp::Stage::kComplete);
    out.documentName = Title(*d);
  }

  // A heading and a two-column table of the rows, after the document's last top-level table
  // (at the end of the text when it has none).
  void AppendSummary(const wp::AppendSummary& r, wp::AppendSummary::Result& out) {
    CheckFont(r.font);
    Document* d = Active();
    if (!d) {
      out.noDocument = true;
      return;
    }
    Reference<text::XTextDocument> doc(d->model, UNO_QUERY_THROW);
    Reference<text::XText> body = doc->getText();
    Reference<lang::XMultiServiceFactory> factory(d->model, UNO_QUERY_THROW);
    BodyTables(*d);
    // The heading opens a paragraph of its own where the paragraph after the last table (or the
    // end of the text) was; that paragraph's rest follows the new table.
    Reference<text::XTextCursor> cursor;
    if (d->afterTables.is()) {
      cursor = body->createTextCursorByRange(d->afterTables->getStart());
    } else {
      cursor = body->createTextCursor();
      cursor->gotoEnd(false);
      body->insertControlCharacter(Reference<text::XTextRange>(cursor.get()),
                                   text::ControlCharacter::PARAGRAPH_BREAK, false);
    }
    d->kept = false;
    cursor->setString(FromUtf8(r.heading));  // the cursor then spans the heading
    wp::Font heading = r.font;
    heading.bold = true;
    PropertyValues headingFormat;
    AddFont(headingFormat, heading).Add("ParaAdjust", Any(Adjust(0)));
    headingFormat.ApplyTo(Reference<beans::XMultiPropertySet>(cursor, UNO_QUERY_THROW));
    cursor->collapseToEnd();
    const Reference<text::XTextRange> here(cursor.get());
    body->insertControlCharacter(here, text::ControlCharacter::PARAGRAPH_BREAK, false);
    Reference<text::XTextTable> table(factory->createInstance("com.sun.star.text.TextTable"),
                                      UNO_QUERY_THROW);
    const sal_Int32 count = std::max<sal_Int32>(1, static_cast<sal_Int32>(r.rows.size()));
    table->initialize(count, 2);
    body->insertTextContent(here, Reference<text::XTextContent>(table.get()), false);
    PropertyValues format;
    AddFont(format, r.font).Add("ParaAdjust", Any(Adjust(0)));
    for (std::size_t i = 0; i < r.rows.size(); ++i) {
      const int row = static_cast<int>(i) + 1;
      WriteCell(Cell(table, 0, row, 1), FromUtf8(r.rows[i].first), format);
      WriteCell(Cell(table, 0, row, 2), FromUtf8(r.rows[i].second), format);
    }
    d->tablesWalked = false;  // the document has one table more
    out.documentName = Title(*d);
  }

  void Where(const wp::Where&, wp::Where::Result& out) {
    Document& d = RequireActive();
    out.name = Title(d);
    out.hidden = d.hidden;
    const OUString url = d.model->getURL();
    OUString path;
    if (url.startsWith("file:") &&
        osl::FileBase::getSystemPathFromFileURL(url, path) == osl::FileBase::E_None)
      out.file = ToUtf8(path);
  }

  void StoreTo(Document& d, const std::string& path, const std::string& filter) {
    Reference<frame::XStorable> storable(d.model, UNO_QUERY_THROW);
    storable->storeToURL(FileUrl(path), Properties({Property("FilterName", Any(FromUtf8(filter))),
                                                    Property("Overwrite", Any(true))}));
  }

  void Store(const wp::Store& r, wp::NoResult&) {
    Document& d = RequireActive();
    StoreTo(d, r.path, r.filter);
    d.kept = true;
  }

  void Activate() {
    RequireConnection();
    Reference<frame::XModel> model(desktop->getCurrentComponent(), UNO_QUERY);
    if (!model.is())
      if (Document* d = Known(lastAdded)) model = d->model;
    if (!model.is()) return;
    Reference<awt::XWindow> w = ContainerWindow(model);
    if (!w.is()) return;
    Reference<awt::XTopWindow> top(w, UNO_QUERY);
    if (top.is()) top->toFront();
    w->setFocus();
  }

  // Word's Quit: LibreOffice ends, asking about unsaved documents itself.
  void Quit() {
    RequireConnection();
    bool ended = false;
    try {
      ended = desktop->terminate();
    } catch (const lang::DisposedException&) {
      ended = true;  // the bridge may go while LibreOffice ends
    }
    if (!ended)
      throw Failure{"LibreOffice Writer не завершил работу: закрытие документов отменено."};
    Drop();
  }

  void CloseDocuments(const wp::CloseDocuments& r, wp::CloseDocuments::Result& out) {
    const std::vector<Reference<frame::XModel>> models = TextDocuments();
    out.documents = static_cast<std::int32_t>(models.size());
    if (r.mode == static_cast<std::uint8_t>(wp::CloseMode::kQuit)) {
      if (models.empty()) return;
      Activate();
      Quit();
      return;
    }
    const bool store = r.mode == static_cast<std::uint8_t>(wp::CloseMode::kStore);
    if (!store && r.mode != static_cast<std::uint8_t>(wp::CloseMode::kClose))
      throw Failure{kOutOfRange};
    // Nobody could see these documents: each is stored unless it was since its last change,
    // and the program closes them once it has kept the copies.
    int n = 0;
    for (const Reference<frame::XModel>& model : models) {
      Document& d = Register(model, false);
      if (!d.ours && !r.all) continue;
      failedDocument = d.id;
      if (!store) {
        Reference<util::XCloseable>(d.model, UNO_QUERY_THROW)->close(true);
        continue;
      }
      if (d.kept) continue;
      const std::string file = r.folder + "/" + std::to_string(++n) + ".docx";
      StoreTo(d, file, "MS Word 2007 XML");
      d.kept = true;
      out.stored.emplace_back(file, d.name.empty() ? Title(d) : d.name);
    }
  }

  void Terminate(const wp::Terminate&, wp::NoResult&) {
    if (!desktop.is()) return;
    try {
      CloseOurs();
      desktop->terminate();
    } catch (const uno::Exception&) {
    }
    Drop();
  }

  void CloseOurs() {
    RequireConnection();
    for (Document& d : documents) {
      if (!d.ours || d.closed->disposed()) continue;
      try {
        Reference<util::XCloseable>(d.model, UNO_QUERY_THROW)->close(true);
      } catch (const uno::Exception&) {
      }
    }
  }

  // What a failure tells about the connection and the document. A failure from LibreOffice may
  // come before the bridge has told it is gone: one call then says whether it still answers.
  std::uint8_t FlagsAfterError(bool probe = false) {
    std::uint8_t flags = 0;
    if (probe && desktop.is() && bridgeGone.is() && !bridgeGone->disposed()) {
      try {
        desktop->getCurrentComponent();
      } catch (const lang::DisposedException&) {
        flags |= wp::kConnectionLost;
      } catch (const uno::Exception&) {
      }
    }
    if (bridgeGone.is() && bridgeGone->disposed()) flags |= wp::kConnectionLost;
    for (const Document& d : documents)
      if (d.id == failedDocument && d.closed->disposed()) flags |= wp::kDocumentClosed;
    return flags;
  }
};

namespace {

using State = WriterSession::State;

// The failure of a request, from whatever it threw.
wp::Failure Caught(State& s) {
  try {
    throw;
  } catch (const Failure& f) {
    return {f.text, static_cast<std::uint8_t>(f.flags | s.FlagsAfterError())};
  } catch (const uno::Exception& e) {
    const std::uint8_t flags = s.FlagsAfterError(/*probe=*/true);
    // Writer's own text; its type names the failure when the text is empty.
    std::string text = ToUtf8(e.Message);
    if (text.empty()) text = ToUtf8(cppu::getCaughtException().getValueTypeName());
    return {text, flags};
  } catch (const cppu::BootstrapException& e) {
    return {ToUtf8(e.getMessage()), wp::kConnectionLost};
  } catch (const std::exception& e) {
    return {e.what(), s.FlagsAfterError()};
  }
}

// Runs one decoded request with its handler and encodes the reply.
template <class Request, auto Handler>
std::string Run(State& s, const wp::Request& request) {
  wp::Reply<typename Request::Result> reply;
  s.failedDocument = 0;
  if constexpr (!std::is_same_v<Request, wp::AppendBlock>) s.TrimSpareRows();
  try {
    (s.*Handler)(std::get<Request>(request), reply.result);
  } catch (...) {
    reply.status = wp::Status::kFailed;
    reply.failure = Caught(s);
  }
  return wp::EncodeReply(reply);
}

struct Route {
  std::size_t request;  // the index of the request's kind in wp::Request
  std::string (*run)(State&, const wp::Request&);
};

template <class Request, std::size_t I = 0>
constexpr std::size_t IndexOf() {
  if constexpr (std::is_same_v<std::variant_alternative_t<I, wp::Request>, Request>)
    return I;
  else
    return IndexOf<Request, I + 1>();
}

template <class Request, auto Handler>
constexpr Route To() {
  return {IndexOf<Request>(), &Run<Request, Handler>};
}

// Every kind of request and what runs it.
constexpr Route kRoutes[] = {
    To<wp::Attach, &State::Attach>(),
    To<wp::EndAction, &State::EndAction>(),
    To<wp::CreateDocument, &State::CreateDocument>(),
    To<wp::FillVariables, &State::FillVariables>(),
    To<wp::AppendBlock, &State::AppendBlock>(),
    To<wp::AppendSummary, &State::AppendSummary>(),
    To<wp::Where, &State::Where>(),
    To<wp::Store, &State::Store>(),
    To<wp::CloseDocuments, &State::CloseDocuments>(),
    To<wp::Terminate, &State::Terminate>(),
};
static_assert(std::size(kRoutes) == std::variant_size_v<wp::Request>, "a route for every request");

}  // namespace

WriterSession::WriterSession() : state_(std::make_unique<State>()) {}

WriterSession::~WriterSession() { Close(); }

void WriterSession::Close() {
  try {
    state_->Drop();
  } catch (...) {
  }
}

std::string WriterSession::CheckRuntime() {
  try {
    State s;
    s.LocalContext();
    connection::Connector::create(s.local);
    return {};
  } catch (const uno::Exception& e) {
    std::string text = ToUtf8(e.Message);
    return text.empty() ? ToUtf8(cppu::getCaughtException().getValueTypeName()) : text;
  } catch (const cppu::BootstrapException& e) {
    return ToUtf8(e.getMessage());
  } catch (const std::exception& e) {
    return e.what();
  }
}

std::string WriterSession::Handle(std::string_view payload) {
  const std::optional<wp::Request> request = wp::DecodeRequest(payload);
  if (!request) {
    wp::Reply<wp::NoResult> refused;
    refused.status = wp::Status::kFailed;
    refused.failure = {"Неверный запрос к модулю LibreOffice.", wp::kRefused};
    return wp::EncodeReply(refused);
  }
  for (const Route& route : kRoutes)
    if (route.request == request->index()) return route.run(*state_, *request);
  wp::Reply<wp::NoResult> unknown;
  unknown.status = wp::Status::kFailed;
  unknown.failure = {"Неизвестная операция модуля LibreOffice.", wp::kRefused};
  return wp::EncodeReply(unknown);
}

}  // namespace kd735::writer
