// Which pixels take part in a profile: every pixel with a non-zero full
// intensity that the mask does not flag and whose azimuth lies in the
// sector. Full intensities are the decoded 16-bit values with the overflow
// records' values put in.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "reduce/mar345_file.h"

struct AzimuthSector {
  double from_deg = 0, to_deg = 360;  // kept: from <= azimuth < to, taken modulo 360
};

struct PixelTally {
  std::int64_t total = 0;
  std::int64_t zero = 0;        // value 0: no data
  std::int64_t masked = 0;      // flagged by the mask
  std::int64_t off_sector = 0;  // outside the azimuth sector
  std::int64_t off_range = 0;   // outside the bins (or angle not a number)
  std::int64_t used = 0;

  // Adds the counts of another run of pixels.
  PixelTally& operator+=(const PixelTally& o) {
    total += o.total;
    zero += o.zero;
    masked += o.masked;
    off_sector += o.off_sector;
    off_range += o.off_range;
    used += o.used;
    return *this;
  }
};

class PixelSelection {
 public:
  // image: n decoded 16-bit pixels; mask and azimuths: n entries or null.
  PixelSelection(const std::uint16_t* image, std::int64_t n,
                 const std::vector<OverflowRecord>& overflow, const std::uint8_t* mask,
                 const double* azimuths, const std::optional<AzimuthSector>& sector);

  std::int64_t size() const { return n_; }

  // Of the pixels from <= i < to: tallies the pixels that take part and
  // those left out, by reason (total, zero, masked, off_sector, used), and
  // calls take(i, v) for each that takes part, in pixel order: i its index,
  // v its full intensity; leave(i) for each that is left out.
  template <class Take, class Leave>
  PixelTally count(std::int64_t from, std::int64_t to, Take&& take, Leave&& leave) const;
  template <class Take>
  PixelTally count(std::int64_t from, std::int64_t to, Take&& take) const {
    return count(from, to, take, [](std::int64_t) {});
  }

  // Calls take(i, v) for each pixel from <= i < to that takes part, as
  // count does.
  template <class Take>
  void for_each_taken(std::int64_t from, std::int64_t to, Take&& take) const {
    scan(from, to, [&](std::int64_t i, std::uint32_t v, Verdict verdict) {
      if (verdict == Verdict::take) take(i, v);
    });
  }

 private:
  enum class Verdict { take, zero, masked, off_sector };
  template <class Visit>
  void scan(std::int64_t from, std::int64_t to, Visit&& visit) const;

  const std::uint16_t* image_;
  std::int64_t n_;
  std::vector<OverflowRecord> overflow_;  // by address; the last record of an address wins
  const std::uint8_t* mask_;
  const double* azimuths_;
  double sector_from_ = 0, sector_span_ = 360;
};

template <class Visit>
void PixelSelection::scan(std::int64_t from, std::int64_t to, Visit&& visit) const {
  const double sector_to = sector_from_ + sector_span_;
  // The first record of a pixel from `from` on (addresses count from 1).
  auto next = std::lower_bound(
      overflow_.begin(), overflow_.end(), from,
      [](const OverflowRecord& r, std::int64_t index) { return r.address - 1 < index; });
  std::int64_t next_index = next == overflow_.end() ? n_ : next->address - 1;
  for (std::int64_t i = from; i < to; ++i) {
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
          (a >= sector_from_ && a < sector_to) || (a + 360 >= sector_from_ && a + 360 < sector_to);
      if (!inside) verdict = Verdict::off_sector;
    }
    visit(i, v, verdict);
  }
}

template <class Take, class Leave>
PixelTally PixelSelection::count(std::int64_t from, std::int64_t to, Take&& take,
                                 Leave&& leave) const {
  std::int64_t counts[4] = {0, 0, 0, 0};
  scan(from, to, [&](std::int64_t i, std::uint32_t v, Verdict verdict) {
    ++counts[static_cast<int>(verdict)];
    if (verdict == Verdict::take) {
      take(i, v);
    } else {
      leave(i);
    }
  });
  PixelTally tally;
  tally.total = to - from;
  tally.zero = counts[static_cast<int>(Verdict::zero)];
  tally.masked = counts[static_cast<int>(Verdict::masked)];
  tally.off_sector = counts[static_cast<int>(Verdict::off_sector)];
  tally.used = counts[static_cast<int>(Verdict::take)];
  return tally;
}

// The full-intensity image, for checks.
std::vector<std::uint32_t> full_intensities(const std::uint16_t* image, std::int64_t n,
                                            const std::vector<OverflowRecord>& overflow);
