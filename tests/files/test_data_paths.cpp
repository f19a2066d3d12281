#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "files/data_paths.h"

namespace kd735 {
namespace {

using namespace Qt::StringLiterals;

// A tree like an installed prefix: <root>/usr/bin and <root>/usr/share/kd735.
class DataPaths : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root_.isValid());
    bin_ = root_.filePath(u"usr/bin"_s);
    share_ = root_.filePath(u"usr/share/kd735"_s);
    ASSERT_TRUE(QDir().mkpath(bin_));
    ASSERT_TRUE(QDir().mkpath(share_));
  }
  static void Touch(const QString& path) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
  }
  QTemporaryDir root_;
  QString bin_, share_;
};

TEST_F(DataPaths, FindsTheFileBesideTheProgramFirstThenInTheInstalledTree) {
  const QString name = QString::fromLatin1(kTemplateFileName);
  // Nothing there yet: the installed location, cleaned of "..", is named.
  EXPECT_EQ(FindDataFile(name, bin_), share_ + u'/' + name);
  EXPECT_FALSE(QFileInfo::exists(FindDataFile(name, bin_)))
      << "a program outside the build folder never falls back to the build's template";

  Touch(share_ + u'/' + name);
  EXPECT_EQ(FindDataFile(name, bin_), share_ + u'/' + name);
  EXPECT_EQ(FindDataFile(name, bin_ + u"/"_s), share_ + u'/' + name);

  Touch(bin_ + u'/' + name);
  EXPECT_EQ(FindDataFile(name, bin_), bin_ + u'/' + name);

  // A folder of that name is not the file.
  const QString other = u"other.docx"_s;
  ASSERT_TRUE(QDir().mkpath(bin_ + u'/' + other));
  Touch(share_ + u'/' + other);
  EXPECT_EQ(FindDataFile(other, bin_), share_ + u'/' + other);
}

TEST_F(DataPaths, AProgramInTheBuildFolderFindsTheTemplateTheBuildMade) {
  // This test runs from the build folder, where neither beside it nor ../share holds a template.
  int argc = 1;
  char name[] = "test_files_data_paths";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);  // the running program's folder comes from it
  const QString path = DefaultTemplatePath();
  EXPECT_EQ(path, QDir::cleanPath(QStringLiteral(KD735_TEMPLATE_DOCX)));
  EXPECT_TRUE(QFileInfo(path).isFile()) << path.toStdString();
}

}  // namespace
}  // namespace kd735
