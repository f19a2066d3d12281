#include "apps/common/spin_edit.h"

#include <QLineEdit>

namespace kd735 {

TPBSpinEdit::TPBSpinEdit(IntegerRange range, int value, bool steppedOnly, int maxChars,
                         QWidget* parent)
    : QSpinBox(parent), range_(range), maxChars_(maxChars) {
  setRange(range.minimum, range.maximum);
  setValue(ClampToRange(value, range));
  setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
  setKeyboardTracking(false);
  if (QLineEdit* edit = findChild<QLineEdit*>()) {
    edit->setMaxLength(maxChars);
    if (steppedOnly) edit->setReadOnly(true);  // the arrows and arrow keys still step it
  }
}

QValidator::State TPBSpinEdit::validate(QString& input, int&) const {
  if (input.isEmpty()) return QValidator::Intermediate;
  if (input.size() > maxChars_) return QValidator::Invalid;
  for (const QChar c : input)
    if (!c.isDigit()) return QValidator::Invalid;
  bool ok = false;
  const long long v = input.toLongLong(&ok);
  // Out of range is not refused while typing: leaving the field pulls it in.
  return ok && v >= range_.minimum && v <= range_.maximum ? QValidator::Acceptable
                                                          : QValidator::Intermediate;
}

int TPBSpinEdit::valueFromText(const QString& text) const { return ReadIntegerField(text, range_); }

void TPBSpinEdit::fixup(QString& input) const {
  input = QString::number(ReadIntegerField(input, range_));
}

}  // namespace kd735
