#pragma once

#include <QByteArrayView>
#include <QCommandLineParser>
#include <QImage>
#include <QStringList>
#include <memory>

#include "files/file_record.h"

// The verbs of the kd735 command-line tool. Each verb declares its options and arguments on a
// QCommandLineParser (which gives its help text and the checks) and runs on the parsed command
// line. Exit codes: 0 success, 1 a failed operation, 2 a usage error; every message is one line
// on stderr, "kd735: VERB: ...", data alone goes to stdout.
namespace kd735::cli {

inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// Options every verb may carry: before the verb, or among its own options.
struct GlobalOptions {
  bool simulate = false;  // attach to the simulated instrument instead of the USB bus
  bool log = false;       // print the link's numbered log lines to stderr
};

struct Verb {
  const char* name;
  const char* synopsis;  // what follows "kd735 VERB" in the usage line
  const char* summary;   // one sentence, for the overview and the verb's help
  void (*define)(QCommandLineParser& parser);
  int (*run)(const QCommandLineParser& parser, const GlobalOptions& options);
  // Rewrites the arguments before they are parsed (the report's "--measure FILE..." lists).
  QStringList (*prepare)(const QStringList& args) = nullptr;
};

// Instrument files (local files): describe, picture, block, listname, table.
void DefineDescribe(QCommandLineParser& parser);
int Describe(const QCommandLineParser& parser, const GlobalOptions& options);
void DefinePicture(QCommandLineParser& parser);
int Picture(const QCommandLineParser& parser, const GlobalOptions& options);
void DefineBlock(QCommandLineParser& parser);
int Block(const QCommandLineParser& parser, const GlobalOptions& options);
void DefineListName(QCommandLineParser& parser);
int ListName(const QCommandLineParser& parser, const GlobalOptions& options);
void DefineTable(QCommandLineParser& parser);
int Table(const QCommandLineParser& parser, const GlobalOptions& options);

// The instrument link: list, dump, key, message, screen, read.
void DefineList(QCommandLineParser& parser);
int List(const QCommandLineParser& parser, const GlobalOptions& options);
void DefineDump(QCommandLineParser& parser);
int Dump(const QCommandLineParser& parser, const GlobalOptions& options);
void DefineKey(QCommandLineParser& parser);
int Key(const QCommandLineParser& parser, const GlobalOptions& options);
void DefineMessage(QCommandLineParser& parser);
int Message(const QCommandLineParser& parser, const GlobalOptions& options);
void DefineScreen(QCommandLineParser& parser);
int Screen(const QCommandLineParser& parser, const GlobalOptions& options);
void DefineRead(QCommandLineParser& parser);
int Read(const QCommandLineParser& parser, const GlobalOptions& options);

// The Word report: report.
void DefineReport(QCommandLineParser& parser);
QStringList PrepareReport(const QStringList& args);
int Report(const QCommandLineParser& parser, const GlobalOptions& options);

// The verb the messages name ("kd735: VERB: ..."); empty before one is known.
void SetVerb(const QString& verb);

// Writes "kd735: VERB: <text>" to stderr on one line and returns 1. The line breaks of the
// program's own message texts ("\r") are joined with blanks, control characters from names and
// devices become visible; a text that already starts with "VERB: " is not prefixed again.
int Fail(const QString& text);

// "kd735: VERB: <text>; see 'kd735 VERB --help'" on stderr; returns 2.
int UsageError(const QString& text);

// "kd735: VERB: note: <text>" on stderr: something the user should know that is no failure.
void Note(const QString& text);

// Loads a local instrument file; on failure prints what went wrong, naming the file, and
// returns nullptr.
std::unique_ptr<TKD735FileContent> LoadFileOrFail(const QString& path);

// Writes one line (UTF-8) or bytes to stdout. A failed write is remembered and reported by
// FinishOutput.
void PrintLine(const QString& text);
void PrintData(QByteArrayView data);

// Takes the place of a standard stream that was closed when the tool started, so that no file the
// tool opens becomes its stdout; a verb that then writes data fails. Call first in main.
void GuardStandardStreams();

// Flushes stdout. When writing failed, says why and returns 1; else returns `code`.
int FinishOutput(int code);

// The value of a numeric option: a decimal whole number within minimum..maximum. Otherwise false
// and "<option> must be a whole number from <minimum> to <maximum> (got '<text>')".
bool ReadIntegerOption(const QString& option, const QString& text, int minimum, int maximum,
                       int* value, QString* error);

// The picture format of an output name: "png" or "bmp" by its ending (any letter case); null
// and the reason for any other name, "-" included.
const char* PictureFormat(const QString& path, QString* error);

// Encodes the picture in the format its name asks for and writes it with WriteFileAtomically,
// never over one of `inputs`. False and the message naming the file.
bool SaveImageFile(const QImage& image, const QString& path, const QStringList& inputs,
                   QString* error);

}  // namespace kd735::cli
