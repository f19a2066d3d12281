#include "report/writer/writer_session.h"

#include <sal/config.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <vector>

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
#include <com/sun/star/container/NoSuchElementException.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
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
#include <com/sun/star/text/TextContentAnchorType.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/text/XTextContent.hpp>
#include <com/sun/star/text/XTextCursor.hpp>
#include <com/sun/star/text/XTextDocument.hpp>
#include <com/sun/star/text/XTextFieldsSupplier.hpp>
#include <com/sun/star/text/XTextTable.hpp>
#include <com/sun/star/text/XTextTablesSupplier.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/util/XRefreshable.hpp>

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

OUString FileUrl(const std::string& path) {
  OUString url;
  if (osl::FileBase::getFileURLFromSystemPath(FromUtf8(path), url) != osl::FileBase::E_None)
    throw Failure{"Неверное имя файла: " + path};
  return url;
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

// Word's colour indexes 1 to 16 as RGB; index 0 is the automatic colour.
constexpr sal_Int32 kColorIndex[] = {-1,       0x000000, 0x0000FF, 0x00FFFF, 0x00FF00, 0xFF00FF,
                                     0xFF0000, 0xFFFF00, 0xFFFFFF, 0x000080, 0x008080, 0x008000,
                                     0x800080, 0x800000, 0x808000, 0x808080, 0xC0C0C0};

const char kOutOfRange[] = "Значение вне допустимого диапазона.";

// The text of Selection.Text in Writer's terms: every line break becomes a paragraph break, and a
// break that ends the text ends its last paragraph instead of opening an empty one.
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

}  // namespace

struct WriterSession::State {
  struct Document {
    int id = 0;
    Reference<uno::XInterface> identity;
    Reference<frame::XModel> model;
    rtl::Reference<DisposedFlag> closed;
    bool ours = false;    // made by Documents.Add of this helper
    bool locked = false;  // its screen updates held back by this action
    std::chrono::steady_clock::time_point lockedAt;
    // The top-level tables in order, found in this action.
    bool tablesWalked = false;
    std::vector<Reference<text::XTextTable>> bodyTables;
  };
  // Format given to the selection before its text: applied again to the text put there.
  struct Font {
    std::optional<OUString> name;
    std::optional<float> size;
    std::optional<float> weight;
    std::optional<awt::FontSlant> posture;
    std::optional<sal_Int32> color;
    bool empty() const { return !name && !size && !weight && !posture && !color; }
  };

  Reference<uno::XComponentContext> local;
  std::string pipe;
  std::string endingPipe;  // the pipe of a LibreOffice known to be ending, until it is closed
  Reference<lang::XComponent> bridge;
  rtl::Reference<DisposedFlag> bridgeGone;
  rtl::Reference<EndingFlag> officeEnding;
  Reference<uno::XComponentContext> remote;
  Reference<frame::XDesktop2> desktop;
  Reference<graphic::XGraphicProvider> graphics;
  bool visible = false;
  std::vector<Document> documents;
  int nextId = 1;
  int lastAdded = 0;
  bool inAction = false;  // between the program's Connect and Disconnect

  struct {
    int document = 0;
    Reference<text::XText> text;
    Reference<text::XTextCursor> cursor;
    Reference<beans::XPropertySet> properties;
    Reference<beans::XMultiPropertySet> multi;
    Font font;
  } selection;

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
    selection = {};
    documents.clear();
    lastAdded = 0;
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

  wp::AttachState Attach(const std::string& pipeName) {
    ForgetTables();
    if (officeEnding.is() && officeEnding->ending()) endingPipe = pipe;
    if (Connected() && pipeName == pipe) {
      try {
        desktop->getCurrentComponent();  // answers when LibreOffice is alive and responsive
        return wp::AttachState::kAttached;
      } catch (const uno::Exception&) {
      }
    }
    Drop();
    LocalContext();
    Reference<connection::XConnection> connection;
    try {
      connection = connection::Connector::create(local)->connect("pipe,name=" + FromUtf8(pipeName));
    } catch (const connection::NoConnectException&) {
      if (endingPipe == pipeName) endingPipe.clear();
      return wp::AttachState::kNobody;
    }
    if (endingPipe == pipeName) {
      // A LibreOffice that is ending still takes connections for a moment.
      connection->close();
      return wp::AttachState::kEnding;
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
      return wp::AttachState::kEnding;
    }
    pipe = pipeName;
    ReleaseLeftHolds();
    return wp::AttachState::kAttached;
  }

  void RequireConnection() const {
    if (!desktop.is()) throw Failure{"Нет связи с LibreOffice Writer.", wp::kConnectionLost};
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

  Document& Find(int id) {
    RequireConnection();
    for (Document& d : documents) {
      if (d.id != id) continue;
      if (d.closed->disposed())
        throw Failure{"Документ закрыт в LibreOffice Writer.", wp::kDocumentClosed};
      return d;
    }
    throw Failure{"Документ закрыт.", wp::kDocumentClosed};
  }

  static bool IsTextDocument(const Reference<uno::XInterface>& component) {
    return Reference<text::XTextDocument>(component, UNO_QUERY).is();
  }

  int DocumentsCount() {
    RequireConnection();
    Reference<container::XEnumeration> e = desktop->getComponents()->createEnumeration();
    int count = 0;
    while (e->hasMoreElements()) {
      Reference<uno::XInterface> c(e->nextElement(), UNO_QUERY);
      if (IsTextDocument(c)) ++count;
    }
    return count;
  }

  void SetVisible(bool v) {
    RequireConnection();
    visible = v;
    for (Document& d : documents) {
      if (!d.ours || d.closed->disposed()) continue;
      if (Reference<awt::XWindow> w = ContainerWindow(d.model); w.is()) w->setVisible(v);
    }
  }

  void DocumentsAdd(const std::string& path, bool asTemplate) {
    RequireConnection();
    Reference<lang::XComponent> component = desktop->loadComponentFromURL(
        FileUrl(path), "_blank", 0,
        Properties({Property("AsTemplate", Any(asTemplate)), Property("Hidden", Any(!visible)),
                    Property("MacroExecutionMode", Any(document::MacroExecMode::NEVER_EXECUTE))}));
    if (!component.is()) throw Failure{"LibreOffice Writer не смог открыть шаблон " + path + "."};
    if (!IsTextDocument(component)) {
      if (Reference<util::XCloseable> c(component, UNO_QUERY); c.is()) c->close(true);
      throw Failure{"Файл " + path + " не является текстовым документом."};
    }
    lastAdded = Register(Reference<frame::XModel>(component, UNO_QUERY_THROW), true).id;
  }

  int ActiveDocument() {
    RequireConnection();
    Reference<lang::XComponent> current = desktop->getCurrentComponent();
    if (current.is() && IsTextDocument(current))
      return Register(Reference<frame::XModel>(current, UNO_QUERY_THROW), false).id;
    // Without an active window (a hidden or headless LibreOffice) the document made last is the
    // active one, as it would be in Word; after that any text document.
    for (const Document& d : documents)
      if (d.id == lastAdded && !d.closed->disposed()) return d.id;
    Reference<container::XEnumeration> e = desktop->getComponents()->createEnumeration();
    Reference<frame::XModel> any;
    while (e->hasMoreElements()) {
      Reference<uno::XInterface> c(e->nextElement(), UNO_QUERY);
      if (IsTextDocument(c)) any.set(c, UNO_QUERY);
    }
    if (!any.is()) throw Failure{"Эта команда недоступна, так как нет открытых документов."};
    return Register(any, false).id;
  }

  static Reference<awt::XWindow> ContainerWindow(const Reference<frame::XModel>& model) {
    Reference<frame::XController> c = model->getCurrentController();
    if (!c.is()) return {};
    Reference<frame::XFrame> f = c->getFrame();
    return f.is() ? f->getContainerWindow() : Reference<awt::XWindow>();
  }

  void Activate() {
    RequireConnection();
    Reference<lang::XComponent> current = desktop->getCurrentComponent();
    Reference<frame::XModel> model(current, UNO_QUERY);
    if (!model.is()) {
      for (const Document& d : documents)
        if (d.id == lastAdded && !d.closed->disposed()) model = d.model;
    }
    if (!model.is()) return;
    Reference<awt::XWindow> w = ContainerWindow(model);
    if (!w.is()) return;
    Reference<awt::XTopWindow> top(w, UNO_QUERY);
    if (top.is()) top->toFront();
    w->setFocus();
  }

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

  // ---- document content ----

  void SetVariable(int id, const std::string& name, const std::string& value) {
    Document& d = Find(id);
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
  }

  void FieldsUpdate(int id) {
    Document& d = Find(id);
    Reference<text::XTextFieldsSupplier> fields(d.model, UNO_QUERY_THROW);
    Reference<util::XRefreshable>(fields->getTextFields(), UNO_QUERY_THROW)->refresh();
  }

  // Word's Tables(n): the n-th table of the body in document order. Tables nested in cells and
  // tables of headers and footers do not count (Writer's own table list holds them, and a nested
  // table there even comes before its outer table), so the body is walked through.
  //
  // The walk costs a remote call per paragraph, and Writer's own table count grows with the cells
  // of all tables, so the list of the walk serves the steps of one action (one block) and is made
  // anew by the next: a table the user adds or removes between two blocks is seen by the next.
  Reference<text::XTextTable> Table(int id, int position) {
    Document& d = Find(id);
    if (!d.tablesWalked) {
      d.bodyTables.clear();
      Reference<text::XTextDocument> doc(d.model, UNO_QUERY_THROW);
      Reference<container::XEnumerationAccess> body(doc->getText(), UNO_QUERY_THROW);
      Reference<container::XEnumeration> e = body->createEnumeration();
      while (e->hasMoreElements()) {
        Reference<text::XTextTable> t(e->nextElement(), UNO_QUERY);
        if (t.is()) d.bodyTables.push_back(t);
      }
      d.tablesWalked = true;
    }
    if (position < 1 || position > static_cast<int>(d.bodyTables.size()))
      throw Failure{"Запрошенная таблица не существует: в документе нет таблицы с номером " +
                    std::to_string(position) +
                    " (таблиц в документе: " + std::to_string(d.bodyTables.size()) + ")."};
    return d.bodyTables[static_cast<std::size_t>(position - 1)];
  }

  // A new action: what was learnt about the documents' tables is dropped.
  void ForgetTables() {
    for (Document& d : documents) {
      d.tablesWalked = false;
      d.bodyTables.clear();
    }
  }

  // Each new row makes Writer lay out the table anew, and with a heading row repeated on every
  // page that costs time in proportion to the table's length. Within one action (a "send all" of
  // many blocks) the layout is held back and done once a second, so the whole run grows with the
  // number of blocks and Writer still shows them coming in.
  void HoldLayout(Document& d) {
    if (!inAction) return;
    const auto now = std::chrono::steady_clock::now();
    if (!d.locked) {
      d.model->lockControllers();
      d.locked = true;
      d.lockedAt = now;
    } else if (now - d.lockedAt > std::chrono::seconds(1)) {
      d.model->unlockControllers();
      d.model->lockControllers();
      d.lockedAt = now;
    }
  }

  void BeginAction() { inAction = true; }

  // A helper ended in the middle of an action (it did not answer in time) leaves its documents'
  // screen updates held back; a new connection gives them back.
  void ReleaseLeftHolds() {
    try {
      Reference<container::XEnumeration> e = desktop->getComponents()->createEnumeration();
      while (e->hasMoreElements()) {
        Reference<frame::XModel> model(e->nextElement(), UNO_QUERY);
        if (!model.is() || !IsTextDocument(model)) continue;
        for (int i = 0; i < 1000 && model->hasControllersLocked(); ++i) model->unlockControllers();
      }
    } catch (const uno::Exception&) {
    }
  }

  void EndAction() {
    inAction = false;
    for (Document& d : documents) {
      if (!d.locked) continue;
      d.locked = false;
      if (d.closed->disposed()) continue;
      try {
        d.model->unlockControllers();
      } catch (const uno::Exception&) {
      }
    }
  }

  void RowsAdd(int id, int position) {
    HoldLayout(Find(id));
    Reference<table::XTableRows> rows = Table(id, position)->getRows();
    rows->insertByIndex(rows->getCount(), 1);
  }

  int RowsCount(int id, int position) { return Table(id, position)->getRows()->getCount(); }

  void CellSelect(int id, int position, int row, int column) {
    Reference<text::XTextTable> t = Table(id, position);
    selection = {};
    Reference<table::XCell> cell;
    if (row >= 1 && column >= 1)
      cell = t->getCellByName(ColumnName(column - 1) + OUString::number(row));
    if (!cell.is())
      throw Failure{"Запрошенная ячейка не существует: в таблице " + std::to_string(position) +
                    " нет ячейки (" + std::to_string(row) + ", " + std::to_string(column) +
                    ") (строк: " + std::to_string(t->getRows()->getCount()) + ")."};
    Reference<text::XText> text(cell, UNO_QUERY_THROW);
    Reference<text::XTextCursor> cursor = text->createTextCursor();
    cursor->gotoEnd(true);  // from the start: the whole content of the cell, as Word selects it
    selection.document = id;
    selection.text = text;
    selection.cursor = cursor;
    selection.properties.set(cursor, UNO_QUERY_THROW);
  }

  void RequireSelection() {
    RequireConnection();
    if (!selection.cursor.is()) throw Failure{"Нет выделенной ячейки таблицы."};
    Find(selection.document);
  }

  void SetAlignment(int alignment) {
    RequireSelection();
    style::ParagraphAdjust adjust;
    switch (alignment) {
      case 0:
        adjust = style::ParagraphAdjust_LEFT;
        break;
      case 1:
        adjust = style::ParagraphAdjust_CENTER;
        break;
      case 2:
        adjust = style::ParagraphAdjust_RIGHT;
        break;
      case 3:
        adjust = style::ParagraphAdjust_BLOCK;
        break;
      default:
        throw Failure{kOutOfRange};
    }
    selection.properties->setPropertyValue("ParaAdjust", Any(static_cast<sal_Int16>(adjust)));
  }

  // All at once, in one call; the names in alphabetical order, as the interface asks.
  void ApplyFont(const Font& f) {
    std::vector<OUString> names;
    std::vector<Any> values;
    auto add = [&](const char* name, const Any& value) {
      names.push_back(OUString::createFromAscii(name));
      values.push_back(value);
    };
    if (f.color) add("CharColor", Any(*f.color));
    if (f.name) add("CharFontName", Any(*f.name));
    if (f.size) add("CharHeight", Any(*f.size));
    if (f.posture) add("CharPosture", Any(*f.posture));
    if (f.weight) add("CharWeight", Any(*f.weight));
    if (names.size() == 1) {
      selection.properties->setPropertyValue(names[0], values[0]);
      return;
    }
    if (!selection.multi.is()) selection.multi.set(selection.cursor, UNO_QUERY_THROW);
    selection.multi->setPropertyValues(
        Sequence<OUString>(names.data(), static_cast<sal_Int32>(names.size())),
        Sequence<Any>(values.data(), static_cast<sal_Int32>(values.size())));
  }

  void SetFont(const Font& change) {
    RequireSelection();
    Font& f = selection.font;
    if (change.name) f.name = change.name;
    if (change.size) f.size = change.size;
    if (change.weight) f.weight = change.weight;
    if (change.posture) f.posture = change.posture;
    if (change.color) f.color = change.color;
    ApplyFont(change);
  }

  void SetText(std::string_view text) {
    RequireSelection();
    selection.cursor->setString(ParagraphText(text));  // the cursor then spans the new text
    // Text put into an empty selection does not always take the format given to it before.
    if (!selection.font.empty()) ApplyFont(selection.font);
  }

  void PastePicture(const std::string& png, int width, int height) {
    RequireSelection();
    Document& d = Find(selection.document);
    if (!graphics.is()) graphics = graphic::GraphicProvider::create(remote);
    const Sequence<sal_Int8> bytes(reinterpret_cast<const sal_Int8*>(png.data()),
                                   static_cast<sal_Int32>(png.size()));
    Reference<io::XInputStream> in(io::SequenceInputStream::createStreamFromSequence(remote, bytes),
                                   UNO_QUERY_THROW);
    Reference<graphic::XGraphic> graphic =
        graphics->queryGraphic(Properties({Property("InputStream", Any(in))}));
    if (!graphic.is()) throw Failure{"LibreOffice Writer не смог прочитать рисунок."};
    Reference<lang::XMultiServiceFactory> factory(d.model, UNO_QUERY_THROW);
    Reference<beans::XPropertySet> object(
        factory->createInstance("com.sun.star.text.TextGraphicObject"), UNO_QUERY_THROW);
    object->setPropertyValue("Graphic", Any(graphic));
    object->setPropertyValue("AnchorType", Any(text::TextContentAnchorType_AS_CHARACTER));
    // A pasted screen bitmap is shown at 96 pixels per inch; sizes are in 1/100 mm.
    object->setPropertyValue(
        "Size", Any(awt::Size(static_cast<sal_Int32>(std::lround(width * 2540.0 / 96.0)),
                              static_cast<sal_Int32>(std::lround(height * 2540.0 / 96.0)))));
    Reference<text::XTextContent> content(object, UNO_QUERY_THROW);
    selection.text->insertTextContent(Reference<text::XTextRange>(selection.cursor.get()), content,
                                      true);
    selection.cursor->collapseToEnd();  // the insertion point ends up behind the picture
  }

  void Collapse(int direction) {
    RequireSelection();
    if (direction == 0)
      selection.cursor->collapseToEnd();
    else if (direction == 1)
      selection.cursor->collapseToStart();
    else
      throw Failure{kOutOfRange};
  }

  void Store(int id, const std::string& path, const std::string& filter) {
    Document& d = Find(id);
    Reference<frame::XStorable> storable(d.model, UNO_QUERY_THROW);
    storable->storeToURL(FileUrl(path), Properties({Property("FilterName", Any(FromUtf8(filter))),
                                                    Property("Overwrite", Any(true))}));
  }

  void CloseDocuments() {
    RequireConnection();
    for (Document& d : documents) {
      if (!d.ours || d.closed->disposed()) continue;
      try {
        Reference<util::XCloseable>(d.model, UNO_QUERY_THROW)->close(true);
      } catch (const uno::Exception&) {
      }
    }
    selection = {};
  }

  void Terminate() {
    if (!desktop.is()) return;
    try {
      CloseDocuments();
      desktop->terminate();
    } catch (const uno::Exception&) {
    }
    Drop();
  }

  std::uint8_t FlagsAfterError(int documentId) {
    std::uint8_t flags = 0;
    if (!bridgeGone.is() || bridgeGone->disposed()) flags |= wp::kConnectionLost;
    for (const Document& d : documents)
      if (d.id == documentId && d.closed->disposed()) flags |= wp::kDocumentClosed;
    return flags;
  }
};

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

std::string WriterSession::Handle(std::string_view request) {
  State& s = *state_;
  wp::Decoder in(request);
  wp::Encoder out;
  out.U8(static_cast<std::uint8_t>(wp::Status::kOk));
  const auto op = static_cast<wp::Op>(in.U8());
  int documentId = 0;
  auto fail = [&](const std::string& text, std::uint8_t flags) {
    wp::Encoder f;
    f.U8(static_cast<std::uint8_t>(wp::Status::kFailed)).Str(text).U8(flags);
    return f;
  };
  try {
    switch (op) {
      case wp::Op::kAttach: {
        const std::string pipe = in.Str();
        out.U8(static_cast<std::uint8_t>(s.Attach(pipe)));
        break;
      }
      case wp::Op::kSetVisible:
        s.SetVisible(in.Bool());
        break;
      case wp::Op::kDocumentsCount:
        out.I32(s.DocumentsCount());
        break;
      case wp::Op::kDocumentsAdd: {
        const std::string path = in.Str();
        s.DocumentsAdd(path, in.Bool());
        break;
      }
      case wp::Op::kActiveDocument:
        out.I32(s.ActiveDocument());
        break;
      case wp::Op::kActivate:
        s.Activate();
        break;
      case wp::Op::kQuit:
        s.Quit();
        break;
      case wp::Op::kName: {
        documentId = in.I32();
        State::Document& d = s.Find(documentId);
        out.Str(ToUtf8(Reference<frame::XTitle>(d.model, UNO_QUERY_THROW)->getTitle()));
        break;
      }
      case wp::Op::kSetVariable: {
        documentId = in.I32();
        const std::string name = in.Str();
        const std::string value = in.Str();
        s.SetVariable(documentId, name, value);
        break;
      }
      case wp::Op::kFieldsUpdate:
        documentId = in.I32();
        s.FieldsUpdate(documentId);
        break;
      case wp::Op::kTablesItem: {
        documentId = in.I32();
        const int position = in.I32();
        s.Table(documentId, position);
        break;
      }
      case wp::Op::kRowsAdd: {
        documentId = in.I32();
        const int position = in.I32();
        s.RowsAdd(documentId, position);
        break;
      }
      case wp::Op::kRowsCount: {
        documentId = in.I32();
        const int position = in.I32();
        out.I32(s.RowsCount(documentId, position));
        break;
      }
      case wp::Op::kCellSelect: {
        documentId = in.I32();
        const int position = in.I32();
        const int row = in.I32();
        const int column = in.I32();
        s.CellSelect(documentId, position, row, column);
        break;
      }
      case wp::Op::kSetAlignment:
        documentId = s.selection.document;
        s.SetAlignment(in.I32());
        break;
      case wp::Op::kSetText: {
        documentId = s.selection.document;
        const std::string text = in.Str();
        s.SetText(text);
        break;
      }
      case wp::Op::kPastePicture: {
        documentId = s.selection.document;
        const std::string png = in.Bytes();
        const int width = in.I32();
        const int height = in.I32();
        s.PastePicture(png, width, height);
        break;
      }
      case wp::Op::kSetFontName: {
        documentId = s.selection.document;
        State::Font f;
        f.name = FromUtf8(in.Str());
        s.SetFont(f);
        break;
      }
      case wp::Op::kSetFontSize: {
        documentId = s.selection.document;
        const float points = static_cast<float>(in.I32()) / 100.0f;
        if (!(points >= 1.0f && points <= 1638.0f)) throw Failure{kOutOfRange};
        State::Font f;
        f.size = points;
        s.SetFont(f);
        break;
      }
      case wp::Op::kSetFontBold: {
        documentId = s.selection.document;
        State::Font f;
        f.weight = in.I32() != 0 ? awt::FontWeight::BOLD : awt::FontWeight::NORMAL;
        s.SetFont(f);
        break;
      }
      case wp::Op::kSetFontItalic: {
        documentId = s.selection.document;
        State::Font f;
        f.posture = in.I32() != 0 ? awt::FontSlant_ITALIC : awt::FontSlant_NONE;
        s.SetFont(f);
        break;
      }
      case wp::Op::kSetFontColorIndex: {
        documentId = s.selection.document;
        const int index = in.I32();
        if (index < 0 || index >= static_cast<int>(std::size(kColorIndex)))
          throw Failure{kOutOfRange};
        State::Font f;
        f.color = kColorIndex[index];
        s.SetFont(f);
        break;
      }
      case wp::Op::kCollapse:
        documentId = s.selection.document;
        s.Collapse(in.I32());
        break;
      case wp::Op::kStore: {
        documentId = in.I32();
        const std::string path = in.Str();
        const std::string filter = in.Str();
        s.Store(documentId, path, filter);
        break;
      }
      case wp::Op::kBeginAction:
        s.BeginAction();
        break;
      case wp::Op::kEndAction:
        s.EndAction();
        break;
      case wp::Op::kCloseDocuments:
        s.CloseDocuments();
        break;
      case wp::Op::kTerminate:
        s.Terminate();
        break;
      default:
        return fail("Неизвестная операция модуля LibreOffice.", 0).Payload();
    }
    if (!in.ok()) return fail("Неверный запрос к модулю LibreOffice.", 0).Payload();
    return out.Payload();
  } catch (const Failure& f) {
    return fail(f.text, f.flags | s.FlagsAfterError(documentId)).Payload();
  } catch (const uno::Exception& e) {
    // Writer's own text; its type names the failure when the text is empty.
    std::string text = ToUtf8(e.Message);
    if (text.empty()) text = ToUtf8(cppu::getCaughtException().getValueTypeName());
    return fail(text, s.FlagsAfterError(documentId)).Payload();
  } catch (const cppu::BootstrapException& e) {
    return fail(ToUtf8(e.getMessage()), wp::kConnectionLost).Payload();
  } catch (const std::exception& e) {
    return fail(e.what(), s.FlagsAfterError(documentId)).Payload();
  }
}

}  // namespace kd735::writer
