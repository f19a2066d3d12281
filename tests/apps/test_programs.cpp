// Both programs' windows driven through their controls against the simulated instrument.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QImageReader>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include "link/command_protocol.h"
#include "panel/panel_commands.h"
#include "tests/apps/program_rig.h"

namespace kd735::gui_test {
namespace {

using testing::PumpFor;
using testing::PumpUntil;

using namespace std::chrono_literals;

const QString kLocation = QStringLiteral("KD735 N 00123");
const QString kNoLink = QStringLiteral("Нет связи c КД735!!!");

QStringList Texts(const QStringList& numbered) {
  QStringList texts;
  for (const QString& l : numbered) texts << l.mid(5);
  return texts;
}

TEST(Programs, StartUpLogsTheConnectionAndShowsTheLinkState) {
  for (const Which which : {Which::kReport, Which::kVirtual}) {
    for (const bool instrument : {false, true}) {
      SCOPED_TRACE(std::string(Name(which)) + (instrument ? " with" : " without"));
      ProgramRig rig(which, instrument);
      QStringList want{QStringLiteral(" "), QStringLiteral("USB событие DBT_DEVNODES_CHANGED"),
                       QStringLiteral("Не было потока данных!")};
      if (instrument) want << QStringLiteral("String=  ") + kLocation;
      want << QString() << QStringLiteral("Подключено %1 толщиномеров").arg(instrument ? 1 : 0)
           << QString();
      if (instrument)
        want << QStringLiteral("Старт потока данных USB!")
             << QStringLiteral("Команда = AAAAh Данные 0000h OK");
      const QStringList log = rig.Link().Log();
      EXPECT_EQ(Texts(log), want);
      EXPECT_TRUE(log.first().startsWith(QStringLiteral("001  ")));
      // The log window shows the same lines; the footer the link state and the first texts.
      EXPECT_EQ(rig.link->findChild<QPlainTextEdit*>("Memo")->toPlainText(), log.join('\n'));
      EXPECT_EQ(rig.Panel(0), instrument ? kLocation : kNoLink);
      EXPECT_EQ(rig.Panel(1), QStringLiteral("Поток данных"));
      EXPECT_EQ(rig.Panel(2), QStringLiteral("Пакет 64 байт"));
      EXPECT_EQ(rig.Link().TimerActive(), instrument);
      EXPECT_FALSE(rig.link->isVisible());
      if (rig.message) {
        EXPECT_FALSE(rig.message->isVisible());
      }
    }
  }
}

TEST(Programs, WindowsAreLaidOutAsFixedWindows) {
  struct Case {
    Which which;
    QString caption;
    QSize client;
    std::vector<int> panelWidths;
  };
  for (const Case& c :
       {Case{Which::kReport,
             QStringLiteral("  Генератор отчетов ультразвукового толщиномера КД735 "),
             {792, 509},
             {150, 90}},
        Case{Which::kVirtual,
             QStringLiteral(" Виртуальный толщиномер КД735 "),
             {286, 394},
             {110, 95}}}) {
    SCOPED_TRACE(Name(c.which));
    ProgramRig rig(c.which);
    EXPECT_EQ(rig.main->windowTitle(), c.caption);
    EXPECT_EQ(rig.main->centralWidget()->size(), c.client);
    EXPECT_EQ(rig.main->minimumSize(), rig.main->maximumSize());
    const Qt::WindowFlags flags = rig.main->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    for (std::size_t i = 0; i < c.panelWidths.size(); ++i)
      EXPECT_EQ(rig.main->Footer()->PanelLabel(int(i))->width(), c.panelWidths[i]);
    EXPECT_GE(rig.main->Footer()->PanelLabel(2)->width(), 50);
    EXPECT_EQ(rig.link->windowTitle(), QStringLiteral("События USB "));
    EXPECT_EQ(rig.link->size(), QSize(324, 457));
    EXPECT_EQ(rig.main->Screen()->size(),
              c.which == Which::kReport ? QSize(134, 70) : QSize(264, 136));
    if (c.which == Which::kReport) {
      auto* pages = rig.Find<QTabWidget>("PageControl");
      ASSERT_TRUE(pages);
      EXPECT_EQ(pages->tabText(0), QStringLiteral("  Создать документ MS Word, настройки  "));
      EXPECT_EQ(pages->tabText(1), QStringLiteral("  Передать данные в документ  "));
      EXPECT_EQ(pages->currentIndex(), 0);
    } else {
      EXPECT_EQ(rig.message->windowTitle(), QStringLiteral("Вывод окна сообщения на экран КД734"));
      EXPECT_EQ(rig.message->size(), QSize(345, 92));
      QMenu* file = rig.main->findChild<QMenu*>("FileMenu");
      ASSERT_TRUE(file);
      QStringList items;
      for (QAction* a : file->actions())
        items << (a->isSeparator() ? "-" : QString(a->text()).remove('&'));  // as shown
      EXPECT_EQ(items, (QStringList{"Сохранить", "-", "Выход"}));
    }
  }
}

// Every control a person can reach has a name for screen readers: its caption or its hint.
TEST(Programs, EveryControlHasAnAccessibleName) {
  for (const Which which : {Which::kReport, Which::kVirtual}) {
    ProgramRig rig(which);
    std::vector<QWidget*> windows{rig.main, rig.link};
    if (rig.message) windows.push_back(rig.message);
    for (QWidget* window : windows) {
      window->show();
      for (QWidget* w : window->findChildren<QWidget*>()) {
        const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) ||
                             qobject_cast<QAbstractSpinBox*>(w) ||
                             qobject_cast<QPlainTextEdit*>(w) || qobject_cast<TDXDraw*>(w);
        if (!control || !w->isVisibleTo(window)) continue;
        // The inner parts of compound controls are named by their owner.
        if (qobject_cast<QAbstractSpinBox*>(w->parentWidget()) ||
            qobject_cast<QTabBar*>(w->parentWidget()))
          continue;
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        ASSERT_TRUE(a);
        EXPECT_FALSE(a->text(QAccessible::Name).trimmed().isEmpty())
            << Name(which) << ": " << w->metaObject()->className() << " "
            << w->objectName().toStdString();
      }
    }
    EXPECT_EQ(rig.Find("UnLocButtomsSpeedButton")->accessibleName(), kKeyLockHint.toString());
    EXPECT_EQ(rig.Find("ReStartSpeedButton")->toolTip(), QStringLiteral("Рестарт"));
  }
}

TEST(Programs, EachKeySendsItsCommandOnceWithOneLogLine) {
  for (const Which which : {Which::kReport, Which::kVirtual}) {
    ProgramRig rig(which);
    for (const PanelCommand& key : kPanelKeys) {
      SCOPED_TRACE(std::string(Name(which)) + " " + key.name);
      auto* button = rig.Find<QAbstractButton>(key.name);
      ASSERT_TRUE(button);
      rig.TakeCommands();
      const int lines = rig.CommandLogLines();
      QTest::mouseClick(button, Qt::LeftButton);
      const auto sent = rig.TakeCommands();
      ASSERT_EQ(sent.size(), 1u);
      EXPECT_EQ(Word(sent[0], 0), key.command);
      EXPECT_EQ(Word(sent[0], 1), key.data);
      EXPECT_EQ(rig.CommandLogLines(), lines + 1);
      EXPECT_TRUE(rig.Link().Log().last().endsWith(QStringLiteral("h OK")));
      EXPECT_TRUE(button->isEnabled());
    }
  }
}

TEST(Programs, KeyboardLockLatchesAndAlternatesItsCommands) {
  ProgramRig rig(Which::kVirtual);
  auto* lock = rig.Find<QAbstractButton>("UnLocButtomsSpeedButton");
  EXPECT_FALSE(lock->isChecked());
  rig.TakeCommands();
  std::vector<std::uint16_t> sent;
  std::vector<bool> down;
  for (int i = 0; i < 3; ++i) {
    QTest::mouseClick(lock, Qt::LeftButton);
    for (const Packet& p : rig.TakeCommands()) sent.push_back(Word(p, 0));
    down.push_back(lock->isChecked());
  }
  EXPECT_EQ(sent, (std::vector<std::uint16_t>{0x8011, 0x8022, 0x8011}));
  EXPECT_EQ(down, (std::vector<bool>{true, false, true}));
  rig.sim.WithInstrument(rig.path, [](sim::Instrument& i) { EXPECT_TRUE(i.KeysLocked()); });
}

TEST(Programs, ScreenKeysStandForThePanelWhileTheScreenHasTheFocus) {
  ProgramRig rig(Which::kReport);
  TDXDraw* screen = rig.main->Screen();
  screen->setFocus();
  struct Case {
    Qt::Key key;
    std::uint16_t data;
  };
  for (const Case c : {Case{Qt::Key_Return, key::kEnter}, Case{Qt::Key_Escape, key::kEscape},
                       Case{Qt::Key_Up, key::kUp}, Case{Qt::Key_Down, key::kDown},
                       Case{Qt::Key_Left, key::kLeft}, Case{Qt::Key_Right, key::kRight}}) {
    rig.TakeCommands();
    QTest::keyClick(screen, c.key);
    const auto sent = rig.TakeCommands();
    ASSERT_EQ(sent.size(), 1u) << c.key;
    EXPECT_EQ(Word(sent[0], 0), command::kKey);
    EXPECT_EQ(Word(sent[0], 1), c.data);
  }
  // Other keys send nothing.
  QTest::keyClick(screen, Qt::Key_A);
  EXPECT_TRUE(rig.TakeCommands().empty());
}

bool HasLitPixel(const QImage& image, QRgb lit) {
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (image.pixel(x, y) == lit) return true;
  return false;
}

TEST(Programs, LiveScreenShowsTheStreamAndFollowsItsCheckBoxes) {
  for (const Which which : {Which::kReport, Which::kVirtual}) {
    SCOPED_TRACE(Name(which));
    ProgramRig rig(which);
    TDXDraw* screen = rig.main->Screen();
    const QRgb yellow = qRgb(255, 255, 0);
    ASSERT_TRUE(PumpUntil([&] { return HasLitPixel(screen->Presented(), yellow); }));
    EXPECT_EQ(screen->Presented().pixel(0, 0) & 0xFFFFFF, 0xFF0000u);  // the red border
    EXPECT_GT(screen->PaintCount(), 0u);

    // Drawing off: no packet changes what is shown.
    rig.Find<QCheckBox>("DrawCheckBox")->click();
    const std::uint64_t presents = rig.main->Surface().PresentCount();
    PumpFor(300ms);
    EXPECT_EQ(rig.main->Surface().PresentCount(), presents);
    rig.Find<QCheckBox>("DrawCheckBox")->click();

    // Inversion: the whole surface turns white at once, then columns come in blue.
    rig.Find<QCheckBox>("InvColorCheckBox")->click();
    EXPECT_EQ(screen->Presented().pixel(0, 0), qRgb(255, 255, 255));
    ASSERT_TRUE(PumpUntil([&] { return HasLitPixel(screen->Presented(), qRgb(0, 0, 255)); }));
    // "Очистка экрана" blanks it in the current scheme.
    rig.Find<QAbstractButton>("ScreenClearSpeedButton")->click();
    EXPECT_FALSE(HasLitPixel(screen->Presented(), qRgb(0, 0, 255)));
  }
}

TEST(Programs, SavingThePictureRestoresDrawingAndAlwaysWritesABitmap) {
  QTemporaryDir dir;
  for (const Which which : {Which::kReport, Which::kVirtual}) {
    ProgramRig rig(which);
    ModalWatcher watcher;
    auto* draw = rig.Find<QCheckBox>("DrawCheckBox");
    auto* save = rig.main->findChild<QAction*>("SaveToFile");
    ASSERT_TRUE(save);
    for (const bool drawing : {true, false}) {
      for (const bool confirm : {false, true}) {
        SCOPED_TRACE(std::string(Name(which)) + (drawing ? " drawing" : " not drawing") +
                     (confirm ? " saved" : " cancelled"));
        draw->setChecked(drawing);
        const QString path =
            dir.filePath(QStringLiteral("%1_%2_%3.jpg").arg(Name(which)).arg(drawing).arg(confirm));
        watcher.AnswerFileDialog(confirm ? path : QString());
        const int dialogs = watcher.FileDialogs();
        save->trigger();
        EXPECT_EQ(watcher.FileDialogs(), dialogs + 1);
        EXPECT_EQ(draw->isChecked(), drawing);
        EXPECT_EQ(rig.main->Surface().DrawEnabled(), drawing);
        EXPECT_EQ(QFile::exists(path), confirm);
        if (!confirm) continue;
        QImageReader reader(path);
        reader.setDecideFormatFromContent(true);
        EXPECT_EQ(reader.format(), "bmp");
        EXPECT_EQ(reader.size(), which == Which::kReport ? QSize(134, 70) : QSize(264, 136));
      }
    }
    for (const auto& b : watcher.Boxes()) ADD_FAILURE() << b.text.toStdString();
    watcher.Clear();

    // A target that cannot be a picture file: the box names it, with the program's title.
    const QString fifo = dir.filePath(QStringLiteral("%1.fifo").arg(Name(which)));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    draw->setChecked(true);
    watcher.AnswerFileDialog(fifo);
    save->trigger();  // the dialog asks about replacing the existing name first
    ASSERT_EQ(watcher.Boxes().size(), 2u);
    const ModalWatcher::Box& error = watcher.Boxes().back();
    EXPECT_TRUE(error.text.startsWith(QStringLiteral("Cannot create file ") + fifo))
        << error.text.toStdString();
    EXPECT_EQ(error.icon, QMessageBox::Critical);
    EXPECT_EQ(error.title, which == Which::kReport ? QStringLiteral("KD735_report")
                                                   : QStringLiteral("KD735_Virtual"));
    EXPECT_TRUE(draw->isChecked());
  }
}

TEST(Programs, CopyingThePicturePutsTheWholeSurfaceOnTheClipboard) {
  for (const Which which : {Which::kReport, Which::kVirtual}) {
    ProgramRig rig(which);
    rig.main->findChild<QAction*>("CopyToClipBoard")->trigger();
    const QImage copied = QApplication::clipboard()->image();
    EXPECT_EQ(copied.size(), rig.main->Surface().BackBuffer().size());
  }
  // The menu texts of the two programs.
  ProgramRig report(Which::kReport);
  QStringList items;
  for (QAction* a : report.main->findChild<QMenu*>("CopyPopupMenu")->actions()) items << a->text();
  EXPECT_EQ(items, (QStringList{"Копировать в буфер обмена", "Сохранить в файл"}));
  ProgramRig virt(Which::kVirtual);
  items.clear();
  for (QAction* a : virt.main->findChild<QMenu*>("CopyPopupMenu")->actions()) items << a->text();
  EXPECT_EQ(items, QStringList{"Копировать"});
}

TEST(Programs, MessageWindowSendsItsDefaultsAsTheInstrumentExpects) {
  ProgramRig rig(Which::kVirtual);
  rig.Find<QAbstractButton>("USBMessageSpeedButton")->click();  // the main window's button
  ASSERT_TRUE(rig.message->isVisible());
  auto* edit = rig.message->findChild<QLineEdit*>("USBMessageMaskEdit");
  auto* time = rig.message->findChild<QSpinBox*>("TimeSpinEdit");
  EXPECT_EQ(edit->text(), QStringLiteral("Привет !!!"));
  EXPECT_EQ(edit->maxLength(), 16);
  EXPECT_EQ(time->value(), 4);
  EXPECT_EQ(time->minimum(), 1);
  EXPECT_EQ(time->maximum(), 20);

  rig.TakeCommands();
  rig.message->findChild<QPushButton*>("USBMessageSpeedButton")->click();
  const auto sent = rig.TakeCommands();
  ASSERT_EQ(sent.size(), 1u);
  const std::vector<std::uint8_t> head{0x00, 0x55, 0x00, 0xC8, 0x00, 0x00, 0x00, 0xCF, 0x00,
                                       0xF0, 0x00, 0xE8, 0x00, 0xE2, 0x00, 0xE5, 0x00, 0xF2,
                                       0x00, 0x20, 0x00, 0x21, 0x00, 0x21, 0x00, 0x21};
  Packet want{};
  std::copy(head.begin(), head.end(), want.begin());
  EXPECT_EQ(sent[0], want);
  EXPECT_TRUE(
      rig.Link().Log().last().mid(5).startsWith(QStringLiteral("Сообщение = Привет !!!  OK")));
  rig.sim.WithInstrument(rig.path, [](sim::Instrument& i) { EXPECT_TRUE(i.MessageShown()); });

  // The arrows step the time; typing does not change it.
  time->setFocus();
  QTest::keyClick(time, Qt::Key_Up);
  EXPECT_EQ(time->value(), 5);
  QTest::keyClicks(time, "9");
  EXPECT_EQ(time->value(), 5);
  rig.message->close();
  EXPECT_FALSE(rig.message->isVisible());
  EXPECT_EQ(edit->text(), QStringLiteral("Привет !!!"));
}

TEST(Programs, LinkWindowHidesOnCloseAndKeepsItsLog) {
  ProgramRig rig(Which::kReport);
  auto* memo = rig.link->findChild<QPlainTextEdit*>("Memo");
  rig.Find<QAbstractButton>("BitBtn1")->click();
  EXPECT_TRUE(rig.link->isVisible());
  const QString before = memo->toPlainText();
  rig.link->close();  // the title bar's close box
  EXPECT_FALSE(rig.link->isVisible());
  rig.Find<QAbstractButton>("BitBtn1")->click();
  EXPECT_TRUE(rig.link->isVisible());
  EXPECT_EQ(memo->toPlainText(), before);
  rig.link->findChild<QPushButton*>("SpeedButton")->click();  // "Закрыть"
  EXPECT_FALSE(rig.link->isVisible());

  // The stream buttons cannot be pressed; "Очистить" empties the log, the numbering goes on.
  for (const char* name :
       {"CreateThreadButton", "ResumeThreadBitBtn", "SuspendThreadBitBtn", "DestroyThreadButton"})
    EXPECT_FALSE(rig.link->findChild<QPushButton*>(name)->isEnabled()) << name;
  rig.link->findChild<QPushButton*>("ClearMemoBitBtn")->click();
  EXPECT_TRUE(memo->toPlainText().isEmpty());
  rig.Find<QAbstractButton>("EnterSpeedButton")->click();
  EXPECT_TRUE(memo->toPlainText().startsWith(QStringLiteral("010  Команда = 80EEh")))
      << memo->toPlainText().toStdString();

  // "Свойства" lists the selected instrument.
  rig.link->findChild<QPushButton*>("SpeedButton1")->click();
  EXPECT_TRUE(memo->toPlainText().contains(QStringLiteral("LocationInfo    ") + kLocation));
}

TEST(Programs, VirtualProgramPropertiesBeginWithTheSoftwareIdentification) {
  ProgramRig rig(Which::kVirtual);
  rig.link->findChild<QPushButton*>("ClearMemoBitBtn")->click();
  rig.link->findChild<QPushButton*>("SpeedButton1")->click();
  const QStringList lines = rig.link->findChild<QPlainTextEdit*>("Memo")->toPlainText().split('\n');
  ASSERT_GT(lines.size(), 3);
  EXPECT_EQ(lines[0], QStringLiteral(" Идентификационные данные ПО "));
  EXPECT_EQ(lines[2], QStringLiteral(" Цифровой идентификатор 0x6СC5A3F4"));
  // The virtual program names its two stream buttons differently.
  EXPECT_TRUE(rig.link->findChild<QPushButton*>("BitBtn1"));
  EXPECT_TRUE(rig.link->findChild<QPushButton*>("BitBtn2"));
}

TEST(Programs, SimulatorMenuUnplugsAndPlugsTheInstrument) {
  ProgramRig rig(Which::kVirtual);
  auto* unplug = rig.main->findChild<QAction*>("UnplugInstrument");
  auto* plug = rig.main->findChild<QAction*>("PlugInstrument");
  ASSERT_TRUE(unplug && plug);
  EXPECT_FALSE(plug->isEnabled());
  unplug->trigger();
  ASSERT_TRUE(PumpUntil([&] { return rig.Panel(0) == kNoLink; }));
  EXPECT_TRUE(rig.Link().Instruments().isEmpty());
  plug->trigger();
  ASSERT_TRUE(PumpUntil([&] { return rig.Panel(0) == kLocation; }));
  // The replugged instrument is driven again.
  rig.TakeCommands();
  rig.Find<QAbstractButton>("EnterSpeedButton")->click();
  EXPECT_TRUE(rig.Link().Log().last().endsWith(QStringLiteral("h OK")));
}

TEST(Programs, ClosingTheMainWindowStopsTheReaderBeforeTheSurfaceGoes) {
  for (const Which which : {Which::kReport, Which::kVirtual}) {
    ProgramRig rig(which);
    ASSERT_TRUE(PumpUntil([&] { return rig.main->Surface().PresentCount() > 2; }));
    rig.main->close();
    EXPECT_EQ(rig.Link().CurrentReader(), nullptr);
    EXPECT_FALSE(rig.main->Surface().IsInitialized());
    PumpFor(100ms);  // nothing is drawn into the released surface
  }
}

}  // namespace
}  // namespace kd735::gui_test
