#pragma once

#include <QSpinBox>

#include "files/integer_range.h"

namespace kd735 {

// An integer field with up and down arrows. While typing, any digits up to `maxChars` are taken;
// a text that is not a number reads as the minimum; a value left in the field when the focus
// moves away, or set by the program, is pulled into the range. A stepped-only field cannot be
// typed into at all.
class TPBSpinEdit final : public QSpinBox {
  Q_OBJECT

 public:
  TPBSpinEdit(IntegerRange range, int value, bool steppedOnly, int maxChars,
              QWidget* parent = nullptr);

  // The field's value as the report reads it.
  int Value() const { return ReadIntegerField(text(), range_); }

 protected:
  QValidator::State validate(QString& input, int& pos) const override;
  int valueFromText(const QString& text) const override;
  void fixup(QString& input) const override;

 private:
  IntegerRange range_;
  int maxChars_;
};

}  // namespace kd735
