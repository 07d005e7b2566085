#include "reduce/pixel_selection.h"

#include <algorithm>
#include <cmath>

#include "reduce/radix_sort.h"

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

template <class Visit>
void PixelSelection::scan(Visit&& visit) const {
  const double to = sector_from_ + sector_span_;
  auto next = overflow_.begin();
  std::int64_t next_index = next == overflow_.end() ? n_ : next->address - 1;
  for (std::int64_t i = 0; i < n_; ++i) {
    std::uint32_t v = image_[i];
    if (i == next_index) {
      v = next->value;
      ++next;
      next_index = next == overflow_.end() ? n_ : next->address - 1;
    }
    Verdict verdict = Verdict::take;
    if (v == 0) {
      verdict = Verdict::zero;
    } else if (mask_ && mask_[i]) {
      verdict = Verdict::masked;
    } else if (azimuths_) {
      const double a = azimuths_[i];
      const bool inside =
          (a >= sector_from_ && a < to) || (a + 360 >= sector_from_ && a + 360 < to);
      if (!inside) verdict = Verdict::off_sector;
    }
    visit(i, v, verdict);
  }
}

std::int64_t PixelSelection::count(PixelTally* tally) const {
  std::int64_t counts[4] = {0, 0, 0, 0};
  scan([&](std::int64_t, std::uint32_t, Verdict verdict) { ++counts[static_cast<int>(verdict)]; });
  tally->total = n_;
  tally->zero = counts[static_cast<int>(Verdict::zero)];
  tally->masked = counts[static_cast<int>(Verdict::masked)];
  tally->off_sector = counts[static_cast<int>(Verdict::off_sector)];
  return counts[static_cast<int>(Verdict::take)];
}

std::int64_t PixelSelection::write(const double* angles, std::uint64_t* keys,
                                   std::uint32_t* values) const {
  std::int64_t kept = 0;
  scan([&](std::int64_t i, std::uint32_t v, Verdict verdict) {
    if (verdict != Verdict::take) return;
    keys[kept] = order_key(angles[i]);
    values[kept] = v;
    ++kept;
  });
  return kept;
}

std::vector<std::uint32_t> full_intensities(const std::uint16_t* image, std::int64_t n,
                                            const std::vector<OverflowRecord>& overflow) {
  std::vector<std::uint32_t> full(image, image + n);
  for (const OverflowRecord& r : overflow) full[r.address - 1] = r.value;
  return full;
}
