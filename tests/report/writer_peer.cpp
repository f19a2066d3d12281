// writer_peer: a second UNO client of a running LibreOffice, for the tests of the Writer backend.
// It does to LibreOffice what a user would do while the report program works:
//
//   writer_peer PIPE close-documents   closes every text document without saving
//   writer_peer PIPE terminate         quits LibreOffice (File > Exit)
//   writer_peer PIPE delete-table      deletes the first top-level table of every text document
//   writer_peer PIPE dialog            opens a modal message box and waits in it until killed
//   writer_peer PIPE updates           prints "held" or "shown" per text document: whether its
//                                      screen updates are held back (controllers locked)
//
// Prints "done" when the action is done ("shown" before waiting in the dialog); exit 1 with the
// error otherwise.
#include <sal/config.h>

#include <cstdio>
#include <stdexcept>
#include <string>

#include <unistd.h>

#include <cppuhelper/bootstrap.hxx>
#include <rtl/bootstrap.hxx>
#include <rtl/ustring.hxx>

#include <com/sun/star/awt/MessageBoxButtons.hpp>
#include <com/sun/star/awt/MessageBoxType.hpp>
#include <com/sun/star/awt/Toolkit.hpp>
#include <com/sun/star/awt/XMessageBox.hpp>
#include <com/sun/star/awt/XMessageBoxFactory.hpp>
#include <com/sun/star/awt/XToolkit2.hpp>
#include <com/sun/star/awt/XWindowPeer.hpp>
#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/bridge/XUnoUrlResolver.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/frame/XFrame.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/text/XTextDocument.hpp>
#include <com/sun/star/text/XTextTable.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <com/sun/star/util/XCloseable.hpp>

using namespace com::sun::star;
using rtl::OUString;
using uno::Reference;
using uno::UNO_QUERY;
using uno::UNO_QUERY_THROW;

namespace {

Reference<frame::XDesktop2> Connect(const char* pipe) {
  rtl::Bootstrap::set("URE_BOOTSTRAP",
                      "vnd.sun.star.pathname:" KD735_LO_PROGRAM_DIR "/fundamentalrc");
  Reference<uno::XComponentContext> local = cppu::defaultBootstrap_InitialComponentContext();
  Reference<bridge::XUnoUrlResolver> resolver = bridge::UnoUrlResolver::create(local);
  Reference<uno::XComponentContext> remote(
      resolver->resolve("uno:pipe,name=" + OUString::createFromAscii(pipe) +
                        ";urp;StarOffice.ComponentContext"),
      UNO_QUERY_THROW);
  return frame::Desktop::create(remote);
}

template <typename F>
void ForEachTextDocument(const Reference<frame::XDesktop2>& desktop, F f) {
  Reference<container::XEnumeration> e = desktop->getComponents()->createEnumeration();
  while (e->hasMoreElements()) {
    Reference<text::XTextDocument> doc(e->nextElement(), UNO_QUERY);
    if (doc.is()) f(doc);
  }
}

void Done(const char* what) {
  std::printf("%s\n", what);
  std::fflush(stdout);
}

}  // namespace

int Run(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr,
                 "usage: writer_peer PIPE close-documents|terminate|delete-table|dialog|updates\n");
    return 2;
  }
  const std::string action = argv[2];
  try {
    Reference<frame::XDesktop2> desktop = Connect(argv[1]);
    if (action == "close-documents") {
      ForEachTextDocument(desktop, [](const Reference<text::XTextDocument>& doc) {
        Reference<util::XCloseable>(doc, UNO_QUERY_THROW)->close(true);
      });
    } else if (action == "terminate") {
      try {
        desktop->terminate();
      } catch (const lang::DisposedException&) {
        // the bridge goes with LibreOffice
      }
    } else if (action == "delete-table") {
      ForEachTextDocument(desktop, [](const Reference<text::XTextDocument>& doc) {
        Reference<container::XEnumeration> e =
            Reference<container::XEnumerationAccess>(doc->getText(), UNO_QUERY_THROW)
                ->createEnumeration();
        while (e->hasMoreElements()) {
          Reference<text::XTextTable> t(e->nextElement(), UNO_QUERY);
          if (!t.is()) continue;
          Reference<lang::XComponent>(t, UNO_QUERY_THROW)->dispose();
          break;
        }
      });
    } else if (action == "updates") {
      ForEachTextDocument(desktop, [](const Reference<text::XTextDocument>& doc) {
        Done(Reference<frame::XModel>(doc, UNO_QUERY_THROW)->hasControllersLocked() ? "held"
                                                                                    : "shown");
      });
      return 0;
    } else if (action == "dialog") {
      // A message box over the first document's window, as LibreOffice shows its own questions.
      Reference<awt::XWindowPeer> parent;
      ForEachTextDocument(desktop, [&](const Reference<text::XTextDocument>& doc) {
        Reference<frame::XModel> model(doc, UNO_QUERY_THROW);
        if (!parent.is() && model->getCurrentController().is())
          parent.set(model->getCurrentController()->getFrame()->getContainerWindow(), UNO_QUERY);
      });
      if (!parent.is()) throw std::runtime_error("no document window for the dialog");
      Reference<awt::XMessageBoxFactory> factory(parent->getToolkit(), UNO_QUERY_THROW);
      Reference<awt::XMessageBox> box = factory->createMessageBox(
          parent, awt::MessageBoxType_QUERYBOX, awt::MessageBoxButtons::BUTTONS_YES_NO,
          "writer_peer", "A modal question nobody answers");
      Done("shown");
      box->execute();
      Done("closed");
      return 0;
    } else {
      std::fprintf(stderr, "unknown action %s\n", action.c_str());
      return 2;
    }
  } catch (const uno::Exception& e) {
    std::fprintf(stderr, "%s\n", rtl::OUStringToOString(e.Message, RTL_TEXTENCODING_UTF8).getStr());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  Done("done");
  return 0;
}

int main(int argc, char** argv) {
  const int rc = Run(argc, argv);
  std::fflush(stdout);
  std::fflush(stderr);
  // The UNO runtime's singletons are left to the end of the process, as its own clients do.
  _exit(rc);
}
