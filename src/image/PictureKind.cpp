#include "image/PictureKind.h"

namespace quarvel {

TPictureKind PictureKindOf(const std::string& bytes) {
  if (bytes.compare(0, 4, "\x89PNG") == 0)
    return TPictureKind::PNG;
  if (bytes.compare(0, 2, "\xFF\xD8") == 0)
    return TPictureKind::JPEG;
  if (bytes.compare(0, 2, "BM") == 0)
    return TPictureKind::BMP;
  return TPictureKind::None;
}

} // namespace quarvel
