// Qt's own texts (dialogs, standard buttons) in the programs' language where the session has no
// locale of its own, as on many default installations and in containers.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDate>
#include <QFile>
#include <QFileDialog>
#include <QFontDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLibraryInfo>
#include <QPushButton>
#include <QTimer>
#include <QTranslator>

#include "apps/common/program_runner.h"
#include "tests/apps/program_rig.h"
#include "tests/common/requirements.h"

namespace kd735::gui_test {
namespace {

// Set before the application object exists: this test program's session has the C locale.
const bool kUnsetLocale = [] {
  for (const char* name : {"LANG", "LANGUAGE", "LC_MESSAGES", "LC_TIME", "LC_NUMERIC"})
    qunsetenv(name);
  qputenv("LC_ALL", "C");
  return true;
}();

// The texts of a modal dialog's labels, buttons and frames, and its title; the dialog is then
// cancelled.
QStringList DialogTexts(const std::function<void()>& open) {
  QStringList texts;
  QTimer poll;
  poll.setInterval(10);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!dialog || !dialog->isVisible()) return;
    poll.stop();
    texts << dialog->windowTitle();
    for (QLabel* l : dialog->findChildren<QLabel*>()) texts << l->text();
    for (QAbstractButton* b : dialog->findChildren<QAbstractButton*>()) texts << b->text();
    for (QGroupBox* g : dialog->findChildren<QGroupBox*>()) texts << g->title();
    QTimer::singleShot(0, dialog, &QDialog::reject);
  });
  poll.start();
  open();
  return texts;
}

TEST(Language, QtsOwnDialogsAreRussianWhereTheSessionHasNoLocale) {
  const QString translations = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  KD735_NEED(QFile::exists(translations + QStringLiteral("/qtbase_ru.qm")),
             "Qt's translations (qt6-translations-l10n)");
  ASSERT_TRUE(kUnsetLocale);
  App();
  ASSERT_EQ(QLocale::system().language(), QLocale::C);
  QTranslator* qtTexts = UseUserLanguage(App());
  ASSERT_TRUE(qtTexts);
  EXPECT_EQ(QLocale().toString(QDate(2026, 12, 11), QLocale::ShortFormat), u"11.12.2026");

  ProgramRig virt(Which::kVirtual);
  const QStringList save =
      DialogTexts([&] { virt.main->findChild<QAction*>("SaveToFile")->trigger(); });
  ASSERT_FALSE(save.isEmpty());
  EXPECT_EQ(save.first(), u"Сохранить в файл");  // the program's own title stays
  for (const char* english : {"Look in:", "File name:", "Files of type:", "&Save", "Cancel"})
    EXPECT_FALSE(save.contains(QString::fromLatin1(english))) << english;
  EXPECT_TRUE(save.contains(u"Отмена"));

  ProgramRig report(Which::kReport);
  const QStringList font =
      DialogTexts([&] { report.main->findChild<QPushButton*>("FontBitBtn")->click(); });
  ASSERT_FALSE(font.isEmpty());
  for (const char* english : {"Select Font", "&Size", "Effects", "Sample", "Cancel"})
    EXPECT_FALSE(font.contains(QString::fromLatin1(english))) << english;
  EXPECT_TRUE(font.contains(u"Отмена"));

  QApplication::removeTranslator(qtTexts);
}

}  // namespace
}  // namespace kd735::gui_test
