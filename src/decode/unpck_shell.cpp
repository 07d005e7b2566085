// UNPCK, stream, image: decodes a packed MAR stream (converted to bytes) into
// the caller's unsigned 16-bit array, whose element count is the number of
// pixels and whose first dimension is the image width.
#include <cstdint>

#include "decode/unpack_image.h"
#include "module/arguments.h"
#include "module/messages.h"
#include "module/shells.h"

void UNPCK(int /*argc*/, IDL_VPTR argv[], char* /*argk*/) {
  issue_message(kGreeting, Routine::UNPCK);
  const HostArray<const std::uint8_t> stream = input_array<std::uint8_t>(argv, 0);
  HostArray<std::uint16_t> image;
  if (!output_array<std::uint16_t>(argv, 1, &image)) {
    issue_message(kOutType, Routine::UNPCK);
    issue_message(kEnd, Routine::UNPCK);
    return;
  }
  const UnpackResult result =
      unpack_image(stream.data, stream.count, image.data, image.count, image.width);
  if (result.pixels < image.count) issue_message(kTruncated, Routine::UNPCK);
  issue_message(kEnd, Routine::UNPCK);
}
