#pragma once

#include <QString>

#include <cstdio>
#include <cstdlib>

#include "files/file_record.h"

// What the fuzz targets require of the code under test beyond not crashing: a broken rule
// aborts, and libFuzzer keeps the input that broke it.
namespace kd735::fuzz {

inline void Require(bool holds, const char* rule, const QString& detail = {}) {
  if (holds) return;
  std::fprintf(stderr, "rule broken: %s %s\n", rule, detail.toUtf8().constData());
  std::abort();
}

// Texts made from instrument data hold no control character a terminal or a list would act on.
inline void RequireVisible(const QString& text, const char* what) {
  for (QChar c : text) Require(!IsControlCharacter(c), what, text);
}

}  // namespace kd735::fuzz
