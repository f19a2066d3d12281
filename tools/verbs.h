#pragma once

#include <QImage>
#include <QStringList>
#include <memory>

#include "files/file_record.h"

// The verbs of the kd735 command-line tool. Each takes the arguments after the verb and returns
// the exit code: 0 on success, 1 with a message on stderr for bad input or a failed operation.
namespace kd735::cli {

// Options every verb may carry, taken out of the argument list before the verb sees it.
struct GlobalOptions {
  bool simulate = false;  // attach to the simulated instrument instead of the USB bus
  bool log = false;       // print the link's numbered log lines to stderr
};

// Instrument files (local files): describe, picture, block, listname.
int Describe(const QStringList& args, const GlobalOptions& options);
int Picture(const QStringList& args, const GlobalOptions& options);
int Block(const QStringList& args, const GlobalOptions& options);
int ListName(const QStringList& args, const GlobalOptions& options);

// The instrument link: list, dump, key, message, screen, read.
int List(const QStringList& args, const GlobalOptions& options);
int Dump(const QStringList& args, const GlobalOptions& options);
int Key(const QStringList& args, const GlobalOptions& options);
int Message(const QStringList& args, const GlobalOptions& options);
int Screen(const QStringList& args, const GlobalOptions& options);
int Read(const QStringList& args, const GlobalOptions& options);

// The Word report: report.
int Report(const QStringList& args, const GlobalOptions& options);

// Writes "kd735: <text>" to stderr and returns 1. The line breaks of the program's own message
// texts ("\r") become newlines.
int Fail(const QString& text);

// Writes "kd735: note: <text>" to stderr: something the user should know that is no failure.
void Note(const QString& text);

// Loads a local instrument file; on failure prints what went wrong, naming the file, and
// returns nullptr.
std::unique_ptr<TKD735FileContent> LoadFileOrFail(const QString& path);

// Writes one line (UTF-8) to stdout.
void PrintLine(const QString& text);

// The value of a numeric option: a decimal whole number within minimum..maximum. Otherwise false
// and "<option> must be a whole number from <minimum> to <maximum> (got '<text>')".
bool ReadIntegerOption(const QString& option, const QString& text, int minimum, int maximum,
                       int* value, QString* error);

// Encodes the picture (in `format`, or by the name's ending when null) and writes it with
// WriteFileAtomically, never over one of `inputs`. False and the message naming the file.
bool SaveImageFile(const QImage& image, const QString& path, const char* format,
                   const QStringList& inputs, QString* error);

}  // namespace kd735::cli
