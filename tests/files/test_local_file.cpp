#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

#include <cerrno>
#include <cstring>

#include "files/local_file.h"
#include "tests/files/record_builder.h"

namespace kd735 {
namespace {

QString WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
  const QString path = dir.filePath(name);
  QFile f(path);
  EXPECT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(bytes);
  return path;
}

QByteArray Pattern(int size) {
  QByteArray b(size, Qt::Uninitialized);
  for (int i = 0; i < size; ++i) b[i] = char(i * 13 + 1);
  return b;
}

TEST(LocalFile, SizeRuleAndLoadedContent) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  struct Case {
    int size;
    bool accepted;
  };
  for (const Case c : {Case{0, false}, Case{2132, false}, Case{2133, true}, Case{4096, true},
                       Case{4265, true}, Case{4266, false}}) {
    const QByteArray bytes = Pattern(c.size);
    const QString path = WriteFile(dir, QStringLiteral("f%1.KDMesuare").arg(c.size), bytes);
    const LoadedFile loaded = LoadLocalFile(path);
    ASSERT_EQ(loaded.ok(), c.accepted) << c.size;
    if (!c.accepted) {
      EXPECT_EQ(loaded.error, QStringLiteral("Неправильный размер файла (4096 байт)\r") + path +
                                  QStringLiteral("\rЧтение невозможно "));
      continue;
    }
    EXPECT_EQ(loaded.entryText, QStringLiteral("f%1.KDMesuare").arg(c.size));
    const auto& r = loaded.content->record;
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(r.data()), kStoredRecordSize),
              bytes.left(kStoredRecordSize));
    EXPECT_TRUE(std::all_of(r.begin() + kStoredRecordSize, r.end(), [](auto b) { return b == 0; }))
        << c.size;
  }
}

TEST(LocalFile, MissingFileOrFolderIsRefused) {
  QTemporaryDir dir;
  const QString missing = dir.filePath(QStringLiteral("none.KDBscan"));
  EXPECT_EQ(LoadLocalFile(missing).error,
            QStringLiteral("Файл с именем \r") + missing + QStringLiteral("\rНе существует"));
  EXPECT_FALSE(LoadLocalFile(dir.path()).ok());
}

#ifndef Q_OS_WIN
TEST(LocalFile, PipeIsRefusedWithoutWaitingForAWriter) {
  QTemporaryDir dir;
  const QString pipe = dir.filePath(QStringLiteral("pipe.KDMesuare"));
  ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
  EXPECT_EQ(LoadLocalFile(pipe).error, QStringLiteral("Неправильный размер файла (4096 байт)\r") +
                                           pipe + QStringLiteral("\rЧтение невозможно "));
}
#endif

#ifndef Q_OS_WIN
// The window keeps its fixed texts; the reason says what actually went wrong, naming the file.
TEST(LocalFile, ReasonNamesTheFileAndTheRealCause) {
  QTemporaryDir dir;
  const QString pipe = dir.filePath(QStringLiteral("pipe"));
  ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
  const QString loop = dir.filePath(QStringLiteral("loop"));
  ASSERT_TRUE(QFile::link(loop, loop));
  const QString missing = dir.filePath(QStringLiteral("none"));
  const QString tooLong = dir.filePath(QString(300, u'x'));
  struct Case {
    QString path;
    QString reason;
  } cases[] = {
      {pipe, QStringLiteral("not a regular file")},
      {QStringLiteral("/dev/null"), QStringLiteral("not a regular file")},
      {dir.path(), QStringLiteral("is a directory")},
      {loop, QString::fromLocal8Bit(std::strerror(ELOOP))},
      {tooLong, QString::fromLocal8Bit(std::strerror(ENAMETOOLONG))},
  };
  for (const Case& c : cases) {
    const LoadedFile loaded = LoadLocalFile(c.path);
    EXPECT_FALSE(loaded.ok());
    EXPECT_TRUE(loaded.reason.startsWith(c.path + QStringLiteral(": ") + c.reason))
        << loaded.reason.toStdString();
  }
  // The window's texts: "does not exist" for a missing file only, the system's text otherwise.
  EXPECT_EQ(LoadLocalFile(missing).error, MissingFileMessage(missing));
  EXPECT_EQ(LoadLocalFile(missing).reason, MissingFileMessage(missing));
  EXPECT_EQ(LoadLocalFile(loop).error, QString::fromLocal8Bit(std::strerror(ELOOP)));
}
#endif

TEST(LocalFile, SaveWritesStoredPartAndRoundTrips) {
  QTemporaryDir dir;
  FileRecord record;
  for (std::size_t i = 0; i < record.size(); ++i) record[i] = std::uint8_t(i * 31 + 7);
  const QString path = dir.filePath(QStringLiteral("out.KDMesuare"));
  WriteFile(dir, QStringLiteral("out.KDMesuare"), QByteArray(9000, 'x'));  // replaced whole

  ASSERT_EQ(SaveLocalFile(record, path), QString());
  EXPECT_EQ(QFileInfo(path).size(), kStoredRecordSize);
  const LoadedFile loaded = LoadLocalFile(path);
  ASSERT_TRUE(loaded.ok());
  EXPECT_TRUE(std::equal(record.begin(), record.begin() + kStoredRecordSize,
                         loaded.content->record.begin()));
  EXPECT_TRUE(std::all_of(loaded.content->record.begin() + kStoredRecordSize,
                          loaded.content->record.end(), [](auto b) { return b == 0; }));
  // Only the target is left in the folder: no temporary file remains.
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("out.KDMesuare")});
}

TEST(LocalFile, FailedSaveLeavesExistingFileUntouched) {
  QTemporaryDir dir;
  const QString path = WriteFile(dir, QStringLiteral("keep.KDBscan"), Pattern(2133));
  FileRecord record{};
  // The target's folder does not exist: the save fails naming the file and the reason.
  const QString nowhere = dir.filePath(QStringLiteral("no/such.KDBscan"));
  EXPECT_EQ(SaveLocalFile(record, nowhere),
            nowhere + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(ENOENT)));
  // Nor is a file saved over the file it was loaded from when that is named as an input.
  EXPECT_FALSE(SaveLocalFile(record, path, {path}).isEmpty());
  // A read-only folder cannot take the temporary file; the old file stays complete.
  QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
  if (!QFileInfo(dir.path()).isWritable()) {  // root ignores folder permissions
    EXPECT_FALSE(SaveLocalFile(record, path).isEmpty());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), Pattern(2133));
  }
  QFile::setPermissions(dir.path(),
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

TEST(LocalFile, DefaultSaveNames) {
  struct Case {
    const char16_t* entry;
    ListKind kind;
    const char16_t* expected;
  };
  const Case cases[] = {
      {u"probe1.KDMesuare", ListKind::Measure, u"probe1.KDMesuare"},
      {u"probe1.kdmesuare", ListKind::Measure, u"e1.kdmesuare.KDMesuare"},
      {u"001  TEST0001 N005", ListKind::Measure, u" TEST0001 N005.KDMesuare"},
      {u"002  TEST0002 N006", ListKind::Bscan, u" TEST0002 N006.KDBscan"},
      {u"scan.KDBscan", ListKind::Bscan, u"scan.KDBscan"},
      {u"scan.KDBscan", ListKind::Measure, u".KDBscan.KDMesuare"},
      {u"ab", ListKind::Bscan, u".KDBscan"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DefaultSaveName(QString::fromUtf16(c.entry), c.kind), QString::fromUtf16(c.expected))
        << QString::fromUtf16(c.entry).toStdString();
  }
}

// A name made from instrument data stays one name inside the chosen folder.
TEST(LocalFile, SafeFileNamesNeverNameAFolder) {
  EXPECT_EQ(SafeFileName(QStringLiteral("/../../etc/x N005.KDMesuare")),
            QStringLiteral("_.._.._etc_x N005.KDMesuare"));
  EXPECT_EQ(SafeFileName(QStringLiteral("a\\b")), QStringLiteral("a_b"));
  EXPECT_EQ(SafeFileName(QStringLiteral("..")), QStringLiteral("_.."));
  EXPECT_EQ(SafeFileName(QStringLiteral(".")), QStringLiteral("_."));
  EXPECT_EQ(SafeFileName(QStringLiteral("TEST0001 N005.KDMesuare")),
            QStringLiteral("TEST0001 N005.KDMesuare"));
}

}  // namespace
}  // namespace kd735
