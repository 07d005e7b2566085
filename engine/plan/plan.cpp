#include "engine/plan/plan.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "engine/error.h"
#include "engine/geometry/pixel_angles.h"
#include "engine/memory/huge_pages.h"
#include "integrate/radix_sort.h"

namespace vokip {

namespace {

// Rows of the angle map computed at a time: the map is never held whole.
constexpr int kRowsPerBlock = 64;

// The members are sorted in parts of at most this many, each part a range of
// angles, so that the sort's two arrays stay small beside the plan itself.
// Each part computes its members' angles again, which costs less than
// holding the angle map.
constexpr std::int64_t kMostMembersPerSort = std::int64_t{1} << 20;

// Polar angles lie from 0 to 90 degrees; each member's cell among this many
// finds the parts' bounds and the part it falls in. One more value marks
// the pixels that are not members.
constexpr int kAngleCells = (1 << 16) - 1;
constexpr std::uint16_t kNotMember = kAngleCells;
constexpr double kCellsPerDegree = kAngleCells / 90.0;

// Members of a part computed at a time.
constexpr std::int64_t kAngleBlock = 4096;

// An angle's cell; never decreases as the angle grows, so parts made of
// whole cells are ranges of angles.
int angle_cell(double two_theta) {
  const double cell = two_theta * kCellsPerDegree;
  return cell >= kAngleCells - 1 ? kAngleCells - 1 : cell > 0 ? static_cast<int>(cell) : 0;
}

// A pixel that can take part, as the sort sees it: its angle's ordered bits.
// Packed: the sort's two arrays are the largest memory a plan ever holds.
#pragma pack(push, 1)
struct Member {
  std::uint64_t two_theta_bits;
  std::uint32_t pixel;
};
#pragma pack(pop)

// Whether an azimuth lies in the sector, the sector taken modulo 360.
class SectorTest {
 public:
  explicit SectorTest(const AzimuthSector& sector) {
    span_ = sector.to_deg - sector.from_deg;
    from_ = std::fmod(sector.from_deg, 360.0);
    if (from_ < 0) from_ += 360;
  }
  bool whole_circle() const { return span_ >= 360; }
  bool inside(double a) const {
    const double to = from_ + span_;
    return (a >= from_ && a < to) || (a + 360 >= from_ && a + 360 < to);
  }

 private:
  double from_ = 0, span_ = 360;
};

// Radius from the beam centre to the farthest image corner, in pixels: about
// one bin per pixel ring by default.
std::int64_t default_bin_count(const Geometry& g, int width, int height) {
  double farthest = 0;
  for (double x : {0.0, double(width)}) {
    for (double y : {0.0, double(height)}) {
      farthest = std::max(farthest, std::hypot(x - g.center_x_px, y - g.center_y_px));
    }
  }
  return std::max<std::int64_t>(1, static_cast<std::int64_t>(std::ceil(farthest)));
}

}  // namespace

bool PlanSpec::operator==(const PlanSpec& o) const {
  return width == o.width && height == o.height && geometry == o.geometry && mask == o.mask &&
         sector == o.sector && bins == o.bins && unit == o.unit;
}

Plan::Plan(const PlanSpec& spec) : spec_(spec) {
  const Geometry& g = spec.geometry;
  if (spec.width < 1 || spec.height < 1) throw Error("an image needs at least one pixel");
  if (needs_wavelength(spec.unit) && !g.wavelength_angstrom) {
    throw Error("q needs the wavelength: none in the header; give --wavelength A");
  }
  if (spec.mask && (spec.mask->width != spec.width || spec.mask->height != spec.height)) {
    throw Error("the mask is " + std::to_string(spec.mask->width) + " x " +
                std::to_string(spec.mask->height) + " pixels, the image " +
                std::to_string(spec.width) + " x " + std::to_string(spec.height));
  }
  default_bin_count_ = default_bin_count(g, spec.width, spec.height);

  const std::int64_t n = pixels();
  const std::uint8_t* mask = spec.mask ? spec.mask->excluded.data() : nullptr;
  std::optional<SectorTest> sector;
  if (spec.sector && !SectorTest(*spec.sector).whole_circle()) sector.emplace(*spec.sector);
  PixelAngles maps(g, spec.width, spec.height);

  // Which pixels take part, and the cell of each member's angle.
  std::vector<std::uint32_t> masked, off_sector, without_angle;
  std::vector<std::uint16_t, HugePageAllocator<std::uint16_t>> cells(static_cast<std::size_t>(n),
                                                                     kNotMember);
  std::vector<std::int64_t> cell_members(kAngleCells);
  std::vector<double> angles, azimuths;
  for (int first = 0; first < spec.height;) {
    const int left = spec.height - first;
    const int rows = left < 2 * kRowsPerBlock ? left : kRowsPerBlock;
    const std::size_t block = static_cast<std::size_t>(rows) * spec.width;
    angles.resize(block);
    azimuths.resize(sector ? block : 0);
    maps.rows(first, rows, angles.data(), sector ? azimuths.data() : nullptr);
    const std::int64_t base = std::int64_t{first} * spec.width;
    for (std::size_t k = 0; k < block; ++k) {
      const auto p = static_cast<std::uint32_t>(base + static_cast<std::int64_t>(k));
      if (mask && mask[p]) {
        masked.push_back(p);
      } else if (sector && !sector->inside(azimuths[k])) {
        off_sector.push_back(p);
      } else if (std::isnan(angles[k])) {
        without_angle.push_back(p);
      } else {
        const int cell = angle_cell(angles[k]);
        cells[p] = static_cast<std::uint16_t>(cell);
        ++cell_members[cell];
        ++members_;
      }
    }
    first += rows;
  }

  // The members sorted part by part. The sort keeps pixel order among equal
  // angles, as each part's members come in pixel order.
  keys_.resize(static_cast<std::size_t>(members_));
  order_.resize(static_cast<std::size_t>(n));
  std::int64_t placed = 0;
  std::vector<std::uint32_t> listed;
  // The parts' two arrays, kept from part to part.
  std::vector<Member, HugePageAllocator<Member>> part, scratch;
  for (int part_first = 0; part_first < kAngleCells;) {
    int part_end = part_first;
    std::int64_t size = 0;
    while (part_end < kAngleCells &&
           (size == 0 || size + cell_members[part_end] <= kMostMembersPerSort)) {
      size += cell_members[part_end++];
    }
    if (size > 0) {
      part.clear();
      part.reserve(static_cast<std::size_t>(size));
      auto add_listed = [&] {
        angles.resize(listed.size());
        maps.at(listed.data(), static_cast<std::int64_t>(listed.size()), angles.data());
        for (std::size_t k = 0; k < listed.size(); ++k) {
          part.push_back({ordered_bits(angles[k]), listed[k]});
        }
        listed.clear();
      };
      for (std::int64_t p = 0; p < n; ++p) {
        if (cells[p] >= part_first && cells[p] < part_end) {
          listed.push_back(static_cast<std::uint32_t>(p));
          if (static_cast<std::int64_t>(listed.size()) == kAngleBlock) add_listed();
        }
      }
      add_listed();
      scratch.resize(part.size());
      radix_sort_by_key(part.data(), scratch.data(), part.size(),
                        [](const Member& m) { return m.two_theta_bits; });
      for (const Member& m : part) {
        keys_[placed] =
            radial_value(spec.unit, from_ordered_bits(m.two_theta_bits), g.wavelength_angstrom);
        order_[placed] = m.pixel;
        ++placed;
      }
    }
    part_first = part_end;
  }
  masked_end_ = members_ + static_cast<std::int64_t>(masked.size());
  off_sector_end_ = masked_end_ + static_cast<std::int64_t>(off_sector.size());
  std::copy(masked.begin(), masked.end(), order_.begin() + members_);
  std::copy(off_sector.begin(), off_sector.end(), order_.begin() + masked_end_);
  std::copy(without_angle.begin(), without_angle.end(), order_.begin() + off_sector_end_);
}

PixelList Plan::masked() const {
  return {order_.data() + members_, masked_end_ - members_};
}

PixelList Plan::off_sector() const {
  return {order_.data() + masked_end_, off_sector_end_ - masked_end_};
}

PixelList Plan::without_angle() const {
  return {order_.data() + off_sector_end_, pixels() - off_sector_end_};
}

std::shared_ptr<const Binning> Plan::binning(double low_key, double high_key) const {
  {
    const std::lock_guard<std::mutex> lock(binning_mutex_);
    if (binning_ && binning_low_ == low_key && binning_high_ == high_key) return binning_;
  }
  auto made = std::make_shared<Binning>();
  made->layout = lay_out_bins(spec_.bins, low_key, high_key, default_bin_count_);
  const double* keys = keys_.data();
  auto first_not_below = [&](double edge) {
    return std::partition_point(keys, keys + members_, [edge](double k) { return edge > k; }) -
           keys;
  };
  const std::int64_t lo = first_not_below(made->layout.lower);
  const std::int64_t hi = first_not_below(made->layout.upper);
  made->starts = bin_starts(made->layout, keys + lo, hi - lo);
  for (std::int64_t& s : made->starts) s += lo;

  const std::lock_guard<std::mutex> lock(binning_mutex_);
  binning_ = made;
  binning_low_ = low_key;
  binning_high_ = high_key;
  return made;
}

}  // namespace vokip
