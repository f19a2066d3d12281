#pragma once

#include <QImage>

#include <functional>

namespace kd735 {

// The picture clipboard of the report: the block picture is put here and Selection.Paste takes it
// from here. A program may mirror each picture to the desktop clipboard through the hook.
class PictureClipboard {
 public:
  void SetPicture(const QImage& picture) {
    picture_ = picture;
    if (mirror_) mirror_(picture_);
  }
  const QImage& picture() const { return picture_; }
  bool hasPicture() const { return !picture_.isNull(); }

  // Called with every picture put here (e.g. to copy it to the desktop clipboard as well).
  void SetMirror(std::function<void(const QImage&)> mirror) { mirror_ = std::move(mirror); }

 private:
  QImage picture_;
  std::function<void(const QImage&)> mirror_;
};

}  // namespace kd735
