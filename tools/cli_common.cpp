#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "files/atomic_file.h"
#include "files/bitmap_file.h"
#include "files/local_file.h"
#include "tools/verbs.h"

namespace kd735::cli {

namespace {

// The tool runs one verb on one thread: these belong to that run.
QString currentVerb;
bool stdoutClosed = false;  // stdout was closed when the tool started
int stdoutError = 0;        // errno of the first failed write to stdout

// One line: the message texts' own line breaks joined with a blank (none added beside one that
// is there), trailing blanks dropped, control characters made visible.
QString OneLine(const QString& text) {
  QString line;
  for (const QString& part : text.split(QRegularExpression(QStringLiteral("\r\n|\r|\n")))) {
    if (!line.isEmpty() && !part.isEmpty() && !line.endsWith(u' ') && !part.startsWith(u' '))
      line += u' ';
    line += part;
  }
  while (line.endsWith(u' ')) line.chop(1);
  return VisibleText(line);
}

QString Prefix() {
  return currentVerb.isEmpty() ? QStringLiteral("kd735: ")
                               : QStringLiteral("kd735: ") + currentVerb + QStringLiteral(": ");
}

// The text without a "VERB: " its caller already put in front.
QString WithoutVerb(const QString& text) {
  const QString own = currentVerb + QStringLiteral(": ");
  return !currentVerb.isEmpty() && text.startsWith(own) ? text.mid(own.size()) : text;
}

void PrintError(const QString& line) {
  const QByteArray bytes = (line + u'\n').toUtf8();
  std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stderr);
}

}  // namespace

void SetVerb(const QString& verb) { currentVerb = verb; }

int Fail(const QString& text) {
  PrintError(Prefix() + OneLine(WithoutVerb(text)));
  return kExitFailure;
}

int UsageError(const QString& text) {
  const QString help = currentVerb.isEmpty() ? QStringLiteral("kd735 --help")
                                             : QStringLiteral("kd735 %1 --help").arg(currentVerb);
  PrintError(Prefix() + OneLine(WithoutVerb(text)) + QStringLiteral("; see '%1'").arg(help));
  return kExitUsage;
}

void Note(const QString& text) {
  PrintError(Prefix() + QStringLiteral("note: ") + OneLine(WithoutVerb(text)));
}

std::unique_ptr<TKD735FileContent> LoadFileOrFail(const QString& path) {
  LoadedFile loaded = LoadLocalFile(path);
  if (!loaded.ok()) {
    Fail(loaded.reason.isEmpty() ? loaded.error : loaded.reason);
    return nullptr;
  }
  return std::move(loaded.content);
}

void PrintData(QByteArrayView data) {
  if (stdoutError) return;
  if (stdoutClosed) {
    stdoutError = EBADF;
    return;
  }
  if (std::fwrite(data.data(), 1, std::size_t(data.size()), stdout) != std::size_t(data.size()))
    stdoutError = errno ? errno : EIO;
}

void PrintLine(const QString& text) { PrintData((text + u'\n').toUtf8()); }

void GuardStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor: this one, as the lower ones are open.
    if (::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd) continue;
    if (fd == 1) stdoutClosed = true;
  }
}

int FinishOutput(int code) {
  if (!stdoutError && std::fflush(stdout) != 0) stdoutError = errno ? errno : EIO;
  if (!stdoutError) return code;
  Fail(QStringLiteral("cannot write to standard output: ") +
       QString::fromLocal8Bit(std::strerror(stdoutError)));
  return kExitFailure;
}

bool ReadIntegerOption(const QString& option, const QString& text, int minimum, int maximum,
                       int* value, QString* error) {
  bool ok = false;
  const qlonglong v = text.trimmed().toLongLong(&ok, 10);
  if (ok && v >= minimum && v <= maximum) {
    *value = int(v);
    return true;
  }
  *error = QStringLiteral("%1 must be a whole number from %2 to %3 (got '%4')")
               .arg(option)
               .arg(minimum)
               .arg(maximum)
               .arg(text);
  return false;
}

const char* PictureFormat(const QString& path, QString* error) {
  const QString suffix = QFileInfo(path).suffix().toLower();
  if (suffix == QLatin1String("png")) return "png";
  if (suffix == QLatin1String("bmp")) return "bmp";
  *error = path == QLatin1String("-")
               ? QStringLiteral(
                     "a picture is written to a file (.png or .bmp), not to standard "
                     "output")
               : QStringLiteral("cannot write '%1': a picture is written as .png or .bmp")
                     .arg(QDir::toNativeSeparators(path));
  return nullptr;
}

bool SaveImageFile(const QImage& image, const QString& path, const QStringList& inputs,
                   QString* error) {
  const char* format = PictureFormat(path, error);
  if (!format) return false;
  const FileWriteResult written = kd735::SaveImageFile(image, path, format, inputs);
  if (!written) *error = written.message();
  return written.ok();
}

}  // namespace kd735::cli
