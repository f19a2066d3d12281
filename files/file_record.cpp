#include "files/file_record.h"

#include <algorithm>
#include <cmath>

namespace kd735 {

namespace {

bool InRecord(int offset, int width) {
  return offset >= 0 && width >= 0 && offset <= kFileRecordSize - width;
}

std::uint8_t Byte(RecordView record, int offset) {
  return InRecord(offset, 1) ? record[std::size_t(offset)] : 0;
}

}  // namespace

std::unique_ptr<TKD735FileContent> CreateFileContent(RecordView bytes) {
  auto content = std::make_unique<TKD735FileContent>();
  std::copy(bytes.begin(), bytes.end(), content->record.begin());
  return content;
}

std::uint32_t ReadUInt32BE(RecordView record, int offset) {
  if (!InRecord(offset, 4)) return 0;
  const auto* p = record.data() + offset;
  return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 |
         std::uint32_t(p[3]);
}

std::int32_t ReadInt32BE(RecordView record, int offset) {
  return std::int32_t(ReadUInt32BE(record, offset));  // two's complement (C++20)
}

// Bytes 0x80..0xFF of Windows-1251 (the same as Qt's converter, where it knows the code page).
constexpr char16_t kWindows1251High[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039,
    0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408,
    0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB,
    0x0458, 0x0405, 0x0455, 0x0457, 0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423,
    0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B,
    0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};

QChar Windows1251Char(std::uint8_t byte) {
  return QChar(byte < 0x80 ? char16_t(byte) : kWindows1251High[byte - 0x80]);
}

QString DecodeWindows1251(std::span<const std::uint8_t> bytes) {
  // The table, not QStringDecoder: looking the code page up by name for every field costs more
  // than the decoding, and a survey decodes several fields of thousands of records.
  QString text(qsizetype(bytes.size()), Qt::Uninitialized);
  QChar* out = text.data();
  for (const std::uint8_t b : bytes) *out++ = Windows1251Char(b);
  return text;
}

bool IsControlCharacter(QChar c) {
  const char16_t u = c.unicode();
  return u < 0x20 || (u >= 0x7F && u <= 0x9F);
}

QString VisibleText(QString text) {
  for (QChar& c : text)
    if (IsControlCharacter(c)) c = QChar::ReplacementCharacter;
  return text;
}

QString RecordText(RecordView record, int offset, int width) {
  if (offset < 0 || width <= 0 || offset >= kFileRecordSize) return {};
  width = std::min(width, kFileRecordSize - offset);
  const auto field = record.subspan(std::size_t(offset), std::size_t(width));
  const auto end = std::find(field.begin(), field.end(), std::uint8_t(0));
  return VisibleText(DecodeWindows1251(std::span<const std::uint8_t>(field.begin(), end)));
}

QString FileListName(RecordView record, const QLocale& locale) {
  QString name = DecodeWindows1251(record.subspan(field::kFileName, 8));
  name.replace(QChar(0), QLatin1Char(' '));
  return VisibleText(name) +
         FormatNumber(QStringLiteral(" N000"), Byte(record, field::kFileNumber), locale);
}

bool IsKnownKind(std::uint8_t kind) {
  return kind == kSettingsFileKind || kind == kMeasureKind || kind == kBscanKind;
}

QString KindHeadingText(std::uint8_t kind) {
  switch (kind) {
    case kSettingsFileKind:
      return QStringLiteral("Файл НАСТРОЙКИ");
    case kMeasureKind:
      return QStringLiteral("Файл ИЗМЕРЕНИЯ");
    case kBscanKind:
      return QStringLiteral("Файл В-СКАНА");
    default:
      return QStringLiteral("Неизвестный Файл");
  }
}

QString ProbeFrequencyText(std::uint32_t code) {
  switch (code) {
    case 0:
      return QStringLiteral("10,0МГц");
    case 1:
      return QStringLiteral("8,0 МГц");
    case 2:
      return QStringLiteral("5,0 МГц");
    case 3:
      return QStringLiteral("4,0 МГц");
    case 4:
      return QStringLiteral("2,5 МГц");
    case 5:
      return QStringLiteral("2,0 МГц");
    case 6:
      return QStringLiteral("1,8 МГц");
    case 7:
      return QStringLiteral("1,25МГц");
    default:
      return QStringLiteral("Неизвестна");
  }
}

QString MeasureStateText(std::uint32_t code) {
  switch (code) {
    case 0:
    case 3:
      return QStringLiteral("ожидание эхосигнала");
    case 1:
      return QStringLiteral("выполнение измерений");
    case 2:
      return QStringLiteral("фиксация измерений");
    default:
      return QStringLiteral("неизвестное состояние");
  }
}

QString BscanSpeedText(std::uint32_t code) {
  switch (code) {
    case 0:
      return QStringLiteral("БЫСТРО");
    case 1:
      return QStringLiteral("СРЕДНЯЯ");
    case 2:
      return QStringLiteral("МЕДЛЕННО");
    default:
      return QStringLiteral("неизвестно");
  }
}

QString FormatNumber(const QString& pattern, double value, const QLocale& locale) {
  // The number field: the first run of '#', '0' and one '.' that holds a digit placeholder.
  qsizetype start = -1;
  for (qsizetype i = 0; i < pattern.size(); ++i) {
    const QChar c = pattern[i];
    if (c == u'#' || c == u'0') {
      start = i;
      if (i > 0 && pattern[i - 1] == u'.') start = i - 1;  // a field written as ".00"
      break;
    }
  }
  if (start < 0) return pattern;

  int intZeros = 0, fracZeros = 0, fracHashes = 0;
  bool dot = false;
  qsizetype end = start;
  for (; end < pattern.size(); ++end) {
    const QChar c = pattern[end];
    if (c == u'.') {
      if (dot) break;
      dot = true;
    } else if (c == u'0') {
      (dot ? fracZeros : intZeros)++;
    } else if (c == u'#') {
      if (dot) fracHashes++;
    } else {
      break;
    }
  }

  if (!std::isfinite(value)) value = 0;
  const int maxDecimals = fracZeros + fracHashes;
  QString digits = QString::number(std::fabs(value), 'f', maxDecimals);
  QString intPart = digits, fracPart;
  if (const qsizetype p = digits.indexOf(u'.'); p >= 0) {
    intPart = digits.left(p);
    fracPart = digits.mid(p + 1);
  }
  while (fracPart.size() > fracZeros && fracPart.endsWith(u'0')) fracPart.chop(1);
  if (intPart == u"0" && intZeros == 0) intPart.clear();
  if (intPart.size() < intZeros) intPart = QString(intZeros - intPart.size(), u'0') + intPart;

  const bool negative = value < 0 && std::any_of(digits.begin(), digits.end(),
                                                 [](QChar c) { return c.isDigit() && c != u'0'; });
  QString number = intPart;
  if (!fracPart.isEmpty()) number += locale.decimalPoint() + fracPart;

  return (negative ? QStringLiteral("-") : QString()) + pattern.left(start) + number +
         pattern.mid(end);
}

QString InstrumentLine(RecordView record) {
  return QStringLiteral("КД735  ") +
         RecordText(record, field::kDeviceNumber, field::kDeviceNumberWidth);
}

QString DateLine(RecordView record) {
  return QStringLiteral("Дата ") +
         RecordText(record, field::kDateTimeText, field::kDateTimeTextWidth);
}

QString NameAndNumberText(RecordView record, const QLocale& locale) {
  return RecordText(record, field::kFileName, field::kFileNameWidth) +
         FormatNumber(QStringLiteral(" N000"), Byte(record, field::kFileNumber), locale);
}

QString ThicknessLine(RecordView record, const QLocale& locale) {
  if (ReadUInt32BE(record, field::kMeasureState) == 0) return QStringLiteral("H = XXX.XX мм");
  return FormatNumber(QStringLiteral("H = ###0.00 мм"),
                      ReadInt32BE(record, field::kThickness) / 100.0, locale);
}

QString StateLine(RecordView record) {
  return QStringLiteral("Состояние - ") +
         MeasureStateText(ReadUInt32BE(record, field::kMeasureState));
}

QString ScanLengthLine(RecordView record, const QLocale& locale) {
  return FormatNumber(QStringLiteral("Длина сканирования Lck = ###0 мм"),
                      ReadUInt32BE(record, field::kBscanLength), locale);
}

QString SpeedLine(RecordView record) {
  return QStringLiteral("Скорость записи В-скана - ") +
         BscanSpeedText(ReadUInt32BE(record, field::kBscanSpeed));
}

QString RangeHeading() { return QStringLiteral("Диапазон толщин (согласно настройки прибора)"); }

QString RangeLowerLine(RecordView record, const QLocale& locale) {
  return QStringLiteral("от ") + FormatNumber(QStringLiteral("##0.00 мм"),
                                              ReadInt32BE(record, field::kThicknessMin) / 100.0,
                                              locale);
}

QString RangeUpperLine(RecordView record, const QLocale& locale) {
  return QStringLiteral("до ") + FormatNumber(QStringLiteral("##0.00 мм"),
                                              ReadInt32BE(record, field::kThicknessMax) / 100.0,
                                              locale);
}

QString SweepHeading() { return QStringLiteral("Развертка (А-скан)"); }

QString DelayLine(RecordView record) {
  return QStringLiteral("Сдвиг  ") + QString::number(ReadUInt32BE(record, field::kSweepDelay)) +
         QStringLiteral(" мкс");
}

QString WidthLine(RecordView record) {
  return QStringLiteral("Ширина ") + QString::number(ReadUInt32BE(record, field::kSweepWidth)) +
         QStringLiteral(" мкс");
}

QString ScaleHeading() { return QStringLiteral("Параметры шкалы"); }

QString VelocityLine(RecordView record, const QLocale& locale) {
  // A Cyrillic "С" followed by a Latin "L".
  return FormatNumber(QStringLiteral(" СL  = ###0.00 м/с"),
                      ReadUInt32BE(record, field::kVelocityCL) / 100.0, locale);
}

QString ProbeDelayLine(RecordView record, const QLocale& locale) {
  return FormatNumber(QStringLiteral(" Tpep= ###0.0000 мкс"),
                      ReadUInt32BE(record, field::kProbeDelayTpep) / 10000.0, locale);
}

QString ProbeHeading() { return QStringLiteral("Ультразвуковой преобразователь"); }

QString ProbeLine(RecordView record) {
  return RecordText(record, field::kProbeType, field::kProbeTypeWidth) + QStringLiteral("   N ") +
         RecordText(record, field::kProbeNumber, field::kProbeNumberWidth);
}

QString FrequencyLine(RecordView record) {
  return QStringLiteral("Частота ") +
         ProbeFrequencyText(ReadUInt32BE(record, field::kProbeFrequency));
}

}  // namespace kd735
