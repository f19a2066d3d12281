#include "files/file_record.h"

#include <QStringDecoder>
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

QString DecodeWindows1251(std::span<const std::uint8_t> bytes) {
  QStringDecoder decoder("windows-1251");
  return decoder.decode(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
}

QString RecordText(RecordView record, int offset, int width) {
  if (offset < 0 || width <= 0 || offset >= kFileRecordSize) return {};
  width = std::min(width, kFileRecordSize - offset);
  const auto field = record.subspan(std::size_t(offset), std::size_t(width));
  const auto end = std::find(field.begin(), field.end(), std::uint8_t(0));
  return DecodeWindows1251(std::span<const std::uint8_t>(field.begin(), end));
}

QString FileListName(RecordView record, const QLocale& locale) {
  QString name = DecodeWindows1251(record.subspan(field::kFileName, 8));
  name.replace(QChar(0), QLatin1Char(' '));
  return name + FormatNumber(QStringLiteral(" N000"), Byte(record, field::kFileNumber), locale);
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
