#pragma once

#include <QByteArray>
#include <QHash>
#include <QImage>

// The picture of a data block as the engines put it into a document: a PNG at 96 pixels per
// inch, so that it is shown at its pixel size.
namespace kd735 {

inline constexpr int kBlockPictureDotsPerMeter = 3780;  // 96 pixels per inch

class BlockPictureEncoder {
 public:
  // The PNG bytes of the picture; empty when it cannot be encoded. The same picture (a file sent
  // twice) is encoded once.
  QByteArray Png(const QImage& picture);

 private:
  QHash<QByteArray, QByteArray> encoded_;  // picture digest -> PNG bytes
};

}  // namespace kd735
