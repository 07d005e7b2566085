#include "reduce/pixel_selection.h"

#include <algorithm>
#include <cmath>

PixelSelection::PixelSelection(const std::uint16_t* image, std::int64_t n,
                               const std::vector<OverflowRecord>& overflow,
                               const std::uint8_t* mask, const double* azimuths,
                               const std::optional<AzimuthSector>& sector)
    : image_(image), n_(n), overflow_(overflow), mask_(mask), azimuths_(azimuths) {
  std::stable_sort(
      overflow_.begin(), overflow_.end(),
      [](const OverflowRecord& a, const OverflowRecord& b) { return a.address < b.address; });
  // Keep the last record of each address.
  std::vector<OverflowRecord> last;
  for (const OverflowRecord& r : overflow_) {
    if (!last.empty() && last.back().address == r.address) {
      last.back() = r;
    } else {
      last.push_back(r);
    }
  }
  overflow_ = std::move(last);
  if (sector) {
    sector_span_ = sector->to_deg - sector->from_deg;
    sector_from_ = std::fmod(sector->from_deg, 360.0);
    if (sector_from_ < 0) sector_from_ += 360;
  }
  if (sector_span_ >= 360) azimuths_ = nullptr;
}

std::vector<std::uint32_t> full_intensities(const std::uint16_t* image, std::int64_t n,
                                            const std::vector<OverflowRecord>& overflow) {
  std::vector<std::uint32_t> full(image, image + n);
  for (const OverflowRecord& r : overflow) full[r.address - 1] = r.value;
  return full;
}
