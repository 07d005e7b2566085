// Which pixels take part in a profile: every pixel with a non-zero full
// intensity that the mask does not flag and whose azimuth lies in the
// sector. Full intensities are the decoded 16-bit values with the overflow
// records' values put in.
#pragma once

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
};

class PixelSelection {
 public:
  // image: n decoded 16-bit pixels; mask and azimuths: n entries or null.
  PixelSelection(const std::uint16_t* image, std::int64_t n,
                 const std::vector<OverflowRecord>& overflow, const std::uint8_t* mask,
                 const double* azimuths, const std::optional<AzimuthSector>& sector);

  // Counts the pixels that take part and those left out, by reason.
  std::int64_t count(PixelTally* tally) const;

  // Writes, in pixel order, the sort key of each taking part's angle
  // (order_key) and its intensity. Returns how many were written.
  std::int64_t write(const double* angles, std::uint64_t* keys, std::uint32_t* values) const;

 private:
  enum class Verdict { take, zero, masked, off_sector };
  template <class Visit>
  void scan(Visit&& visit) const;

  const std::uint16_t* image_;
  std::int64_t n_;
  std::vector<OverflowRecord> overflow_;  // by address; the last record of an address wins
  const std::uint8_t* mask_;
  const double* azimuths_;
  double sector_from_ = 0, sector_span_ = 360;
};

// The full-intensity image, for checks.
std::vector<std::uint32_t> full_intensities(const std::uint16_t* image, std::int64_t n,
                                            const std::vector<OverflowRecord>& overflow);
