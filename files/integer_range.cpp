#include "files/integer_range.h"

#include <algorithm>

namespace kd735 {

int ClampToRange(long long value, IntegerRange range) {
  return static_cast<int>(std::clamp<long long>(value, range.minimum, range.maximum));
}

int ReadIntegerField(const QString& text, IntegerRange range) {
  bool ok = false;
  const long long value = text.trimmed().toLongLong(&ok, 10);
  return ok ? ClampToRange(value, range) : range.minimum;
}

}  // namespace kd735
