#pragma once

#include <QString>

#include <memory>

#include "report/docx_engine.h"
#include "report/report_port.h"
#include "report/writer_engine.h"

// Choosing the engine behind the Word operations of the report.
namespace kd735 {

enum class WordBackend {
  kDocx,    // .docx files of the program's own; always available
  kWriter,  // a live LibreOffice Writer (the kd735_writer helper and LibreOffice installed)
};

struct WordBackendAvailability {
  bool available = false;
  QString reason;  // why not, for the user; empty when available
};

struct WordBackendOptions {
  DocxEngineOptions docx;
  WriterEngineOptions writer;
};

// The engine's name for the settings ("LibreOffice Writer", "Файлы .docx").
QString WordBackendName(WordBackend backend);

// Whether the engine can be loaded and started. For Writer: its helper is found and its
// libraries load, and LibreOffice with Writer is installed. Runs the helper once (some tens of
// milliseconds, at most a few seconds); starts no LibreOffice.
WordBackendAvailability CheckWordBackend(WordBackend backend,
                                         const WordBackendOptions& options = {});

// A new engine of the given kind. Writer's is made even when it is unavailable: its Begin then
// fails with the reason.
std::unique_ptr<ReportPort> CreateReportPort(WordBackend backend,
                                             const WordBackendOptions& options = {});

}  // namespace kd735
