#pragma once

#include <QString>

// The rules of an integer field: a range, values pulled into it, and the value of a typed text.
namespace kd735 {

struct IntegerRange {
  int minimum;
  int maximum;
};

// Pulls a value into the range (below the minimum becomes the minimum, above the maximum the
// maximum).
int ClampToRange(long long value, IntegerRange range);

// The value of an integer field's text: a decimal integer (surrounding blanks allowed) pulled into
// the range; a text that is not a number reads as the range's minimum.
int ReadIntegerField(const QString& text, IntegerRange range);

}  // namespace kd735
