// The report's actions on their own thread: the engine lives there, everything the window sees
// (boxes, status, settings) happens on the owner's thread and in the actions' order, and a
// session that goes away while an action waits never hangs.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QTemporaryDir>
#include <QThread>
#include <chrono>

#include "report/docx_engine.h"
#include "report/report_session.h"
#include "tests/common/event_helpers.h"
#include "tests/files/record_builder.h"
#include "tests/report/docx_reader.h"

namespace kd735 {
namespace {

using testing::PumpUntil;

QGuiApplication& App() { return testing::App<QGuiApplication>(); }

struct Rig {
  QTemporaryDir dir;
  QThread* engineThread = nullptr;
  std::vector<QString> events;  // in the order the owner saw them
  bool offThread = false;       // something the window sees ran on another thread

  ReportSession::EngineFactory Factory() {
    return [this](ReportSession::OwnerCall) {
      engineThread = QThread::currentThread();
      DocxEngineOptions o;
      o.reportsFolder = dir.path();
      o.openFile = [](const QString&) { return true; };
      return std::unique_ptr<ReportPort>(std::make_unique<DocxEngine>(o));
    };
  }
  ReportSession::Handlers Handlers() {
    ReportSession::Handlers h;
    auto here = [this] { offThread |= QThread::currentThread() != App().thread(); };
    h.showMessage = [this, here](const ReportMessage& m) {
      here();
      events.push_back(QStringLiteral("box: ") + m.text);
    };
    h.setStatus = [this, here](const QString& t) {
      here();
      events.push_back(QStringLiteral("status: ") + t);
    };
    h.pictureCopied = [this, here](const QImage& p) {
      here();
      events.push_back(QStringLiteral("picture %1x%2").arg(p.width()).arg(p.height()));
    };
    return h;
  }
};

TEST(ReportSession, ActionsRunOnTheirThreadAndReportOnTheOwnersInOrder) {
  App();
  Rig rig;
  ReportSession session(rig.Factory(), rig.Handlers());
  std::optional<ReportSession::Created> created;
  ReportSettings settings;
  settings.documentNumber = 6;
  session.CreateDocument(QStringLiteral(KD735_TEMPLATE_DOCX), settings, QStringLiteral("KD735 N 7"),
                         [&](const ReportSession::Created& c) { created = c; });
  int asked = 0;
  bool sent = false;
  std::vector<ReportSession::Record> records(2, testing::RecordBuilder::Measurement().record);
  session.SendFiles(
      BlockKind::Measure, records,
      [&] {
        ++asked;
        return ReportSettings{};
      },
      [&](bool ok) { sent = ok; });
  EXPECT_EQ(session.Pending(), 2);
  ASSERT_TRUE(PumpUntil([&] { return session.Pending() == 0; }));

  ASSERT_TRUE(created);
  EXPECT_TRUE(created->ok);
  EXPECT_EQ(created->documentNumber, 7);
  EXPECT_TRUE(QFileInfo(created->place.file).isFile());
  EXPECT_TRUE(sent);
  EXPECT_EQ(asked, 2);  // anew for each block
  EXPECT_NE(rig.engineThread, App().thread());
  EXPECT_FALSE(rig.offThread);
  const QString name = QFileInfo(created->place.file).fileName();
  EXPECT_EQ(created->place.name, name);
  EXPECT_EQ(rig.events, (std::vector<QString>{
                            QStringLiteral("status: Открыт документ Word -") + name,
                            QStringLiteral("picture 134x70"),
                            QStringLiteral("status: Документ-") + name + " добавлен блок данных.",
                            QStringLiteral("picture 134x70"),
                            QStringLiteral("status: Документ-") + name + " добавлен блок данных.",
                        }));
}

TEST(ReportSession, ASessionClosedWhileAnActionWaitsForItsBoxEndsAtOnce) {
  App();
  Rig rig;
  bool done = false;
  {
    ReportSession session(rig.Factory(), rig.Handlers());
    // No template: the action waits for its error box, which the owner never gets to show.
    session.CreateDocument(QStringLiteral("/nonexistent/t.docx"), ReportSettings{}, std::nullopt,
                           [&](const ReportSession::Created&) { done = true; });
    QThread::msleep(50);
  }
  QCoreApplication::processEvents();
  EXPECT_FALSE(done);
  for (const QString& e : rig.events) EXPECT_FALSE(e.startsWith("box")) << e.toStdString();
}

// Closing the window while every file is sent: the run stops at the next block, no block is
// written with settings the user did not set, and the blocks sent are on disk.
TEST(ReportSession, ASessionClosedDuringSendAllStopsAtABlockAndKeepsWhatWasSent) {
  App();
  Rig rig;
  std::optional<ReportSession::Created> created;
  int given = 0;
  bool finished = false;
  {
    ReportSession session(rig.Factory(), rig.Handlers());
    session.CreateDocument(QStringLiteral(KD735_TEMPLATE_DOCX), ReportSettings{}, std::nullopt,
                           [&](const ReportSession::Created& c) { created = c; });
    ASSERT_TRUE(PumpUntil([&] { return created.has_value(); }));
    ASSERT_TRUE(created->ok);
    std::vector<ReportSession::Record> records(500, testing::RecordBuilder::Measurement().record);
    session.SendFiles(
        BlockKind::Measure, records,
        [&] {
          ++given;
          ReportSettings chosen;
          chosen.font = BlockFont{QStringLiteral("Arial"), 14, true, false};
          return chosen;
        },
        [&](bool) { finished = true; });
    ASSERT_TRUE(PumpUntil([&] { return given >= 3; }));
  }  // the window goes
  QCoreApplication::processEvents();
  EXPECT_FALSE(finished);
  EXPECT_LT(given, 500);
  testing::DocxReader r(created->place.file);
  ASSERT_TRUE(r.ok());
  const auto rows = testing::DocxReader::rows(r.tables().at(0));
  EXPECT_EQ(static_cast<int>(rows.size()) - 1, given) << "every block asked for is kept";
  for (pugi::xpath_node font : r.tables().at(0).select_nodes(".//w:r/w:rPr/w:rFonts"))
    EXPECT_STREQ(font.node().attribute("w:ascii").value(), "Arial") << "no invented settings";
}

}  // namespace
}  // namespace kd735
