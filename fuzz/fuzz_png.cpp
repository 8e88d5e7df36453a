// The PNG loader: the input is one image file, decoded as the storyboard decodes its pictures.

#include "assets/stb_image_impl.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Image image;
  std::string reason;
  const bool ok = DecodeImageRgba8(data, size, image, reason);
  if (!ok) {
    FUZZ_CHECK(image.width == 0 && image.height == 0 && image.rgba.empty());
    return 0;
  }
  FUZZ_CHECK(image.width >= 1 && image.width <= kMaxImageSide);
  FUZZ_CHECK(image.height >= 1 && image.height <= kMaxImageSide);
  FUZZ_CHECK(std::int64_t{image.width} * image.height <= kMaxImagePixels);
  FUZZ_CHECK(image.rgba.size() == static_cast<std::size_t>(image.width) * image.height * 4);
  return 0;
}
