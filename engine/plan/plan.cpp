#include "engine/plan/plan.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "engine/base/error.h"
#include "engine/base/parallel.h"
#include "engine/formats/image_files.h"
#include "engine/geometry/lab_frame.h"
#include "engine/geometry/pixel_angles.h"
#include "integrate/radix_sort.h"

namespace vokip {

namespace {

// Rows of the angle map computed at a time: the map is never held whole.
constexpr int kRowsPerBlock = 64;

// The members are sorted in parts of at most this many, each part a range of
// radial positions, so that the sort's two arrays stay small beside the plan
// itself. Each part computes its members' positions again, which costs less
// than holding them all.
constexpr std::int64_t kMostMembersPerSort = std::int64_t{1} << 20;

// Each member's cell among this many over the range of radial positions
// finds the parts' bounds and the part it falls in. One more value marks
// the pixels that are not members.
constexpr int kCells = (1 << 16) - 1;
constexpr std::uint16_t kNotMember = kCells;

// Members of a part computed at a time.
constexpr std::int64_t kListBlock = 4096;

// Every this many members' key is kept to place bin edges.
constexpr std::int64_t kKeySampleStep = 64;

// A pixel that can take part, as the sort sees it: its radial position's
// ordered bits. Packed: the sort's two arrays are the largest memory a plan
// ever holds.
#pragma pack(push, 1)
struct Member {
  std::uint64_t radial_bits;
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

// A pixel's radial position, by which the plan orders the pixels: 2-theta
// from the module's angle-map core for every unit that grows with it, else
// the distance from the beam in the laboratory frame.
class Radial {
 public:
  explicit Radial(const PlanParameters& parameters)
      : by_two_theta_(follows_two_theta(parameters.unit)),
        width_(parameters.width),
        angles_(parameters.geometry, parameters.width, parameters.height),
        lab_(parameters.geometry) {
    double largest = 90;  // polar angles lie from 0 to 90 degrees
    if (!by_two_theta_) {
      largest = 0;
      for (int x : {-1, parameters.width}) {
        for (int y : {-1, parameters.height}) largest = std::max(largest, lab_.at(x, y).radius_mm);
      }
    }
    cells_per_unit_ = kCells / largest;
  }

  void rows(int first, int rows, double* out) {
    if (by_two_theta_) {
      angles_.rows(first, rows, out, nullptr);
      return;
    }
    for (int r = 0; r < rows; ++r) {
      for (int c = 0; c < width_; ++c) out[r * width_ + c] = lab_.at(c, first + r).radius_mm;
    }
  }

  void at(const std::uint32_t* pixels, std::int64_t count, double* out) {
    if (by_two_theta_) {
      angles_.at(pixels, count, out);
      return;
    }
    for (std::int64_t k = 0; k < count; ++k) {
      out[k] = lab_.at(pixels[k] % width_, pixels[k] / width_).radius_mm;
    }
  }

  // The position's cell; never decreases as the position grows, so parts
  // made of whole cells are ranges of positions.
  int cell(double radial) const {
    const double cell = radial * cells_per_unit_;
    return cell >= kCells - 1 ? kCells - 1 : cell > 0 ? static_cast<int>(cell) : 0;
  }

 private:
  bool by_two_theta_;
  int width_;
  PixelAngles angles_;
  LabFrame lab_;
  double cells_per_unit_ = 1;
};

// Radial positions made keys on the unit's axis, in place.
void to_keys(const PlanParameters& parameters, double* positions, std::size_t count) {
  if (!follows_two_theta(parameters.unit)) return;
  for (std::size_t k = 0; k < count; ++k) {
    positions[k] =
        key_of_two_theta(parameters.unit, positions[k], parameters.geometry.wavelength_angstrom);
  }
}

double key_of(const PlanParameters& parameters, double position) {
  to_keys(parameters, &position, 1);
  return position;
}

// The pixels' corners, for splitting: corner (c, r) of the image is the
// centre of pixel (c, r) of a grid one larger each way whose beam centre
// lies half a pixel further on, so pixel (c, r) has the corners (c, r),
// (c + 1, r), (c, r + 1) and (c + 1, r + 1).
class CornerGrid {
 public:
  explicit CornerGrid(const PlanParameters& parameters)
      : grid_(grown(parameters)), radial_(grid_), lab_(grid_.geometry) {}

  int width() const { return grid_.width; }
  int height() const { return grid_.height; }

  // The keys of corner rows first .. first + rows - 1 (width() each) and,
  // when chi is not null, their chi.
  void rows(int first, int rows, double* keys, float* chi) {
    radial_.rows(first, rows, keys);
    to_keys(grid_, keys, static_cast<std::size_t>(rows) * grid_.width);
    if (!chi) return;
    row_chi_.resize(static_cast<std::size_t>(grid_.width));
    for (int r = 0; r < rows; ++r) {
      lab_.chi_row(first + r, grid_.width, row_chi_.data());
      std::copy(row_chi_.begin(), row_chi_.end(), chi + static_cast<std::size_t>(r) * grid_.width);
    }
  }

 private:
  static PlanParameters grown(PlanParameters grid) {
    grid.width += 1;
    grid.height += 1;
    grid.geometry.center_x_px += 0.5;
    grid.geometry.center_y_px += 0.5;
    return grid;
  }

  PlanParameters grid_;
  Radial radial_;
  LabFrame lab_;
  std::vector<double> row_chi_;
};

}  // namespace

bool PlanParameters::operator==(const PlanParameters& o) const {
  return width == o.width && height == o.height && geometry == o.geometry && mask == o.mask &&
         sector == o.sector && bins == o.bins && unit == o.unit && corrections == o.corrections &&
         azimuth_bins == o.azimuth_bins && cake_bins == o.cake_bins && split == o.split;
}

Plan::Plan(const PlanParameters& parameters) : parameters_(parameters) {
  const Geometry& g = parameters.geometry;
  const Corrections& corrections = parameters.corrections;
  if (parameters.width < 1 || parameters.height < 1) {
    throw Error("an image needs at least one pixel");
  }
  if (needs_wavelength(parameters.unit) && !g.wavelength_angstrom) {
    throw Error(std::string("the wavelength is not known (the unit ") + unit_name(parameters.unit) +
                    " needs it)",
                Setting::wavelength);
  }
  const int w = parameters.width, h = parameters.height;
  if (parameters.mask)
    check_image_size("mask", parameters.mask->width, parameters.mask->height, w, h);
  for (const auto& [what, image] :
       {std::pair{"dark", corrections.dark.get()}, std::pair{"flat", corrections.flat.get()}}) {
    if (image) check_image_size(what, image->width, image->height, w, h);
  }
  default_bin_count_ = default_bin_count(g, parameters.width, parameters.height);

  const std::int64_t n = pixels();
  const std::uint8_t* mask = parameters.mask ? parameters.mask->excluded.data() : nullptr;
  const float* dark = corrections.dark ? corrections.dark->values.data() : nullptr;
  const float* flat = corrections.flat ? corrections.flat->values.data() : nullptr;
  auto unusable = [&](std::int64_t p) {
    return (mask && mask[p]) || (dark && !std::isfinite(dark[p])) ||
           (flat && !(flat[p] > 0 && std::isfinite(flat[p])));
  };
  std::optional<SectorTest> sector;
  if (parameters.sector && !SectorTest(*parameters.sector).whole_circle())
    sector.emplace(*parameters.sector);
  Radial radial(parameters);
  const LabFrame lab(g);
  // A split pixel is placed by its centre's key, and for the cake and full
  // splitting by its azimuth too.
  const bool split = parameters.split != Split::none;
  const bool with_chi = split && (parameters.azimuth_bins > 0 || parameters.split == Split::full);
  const bool bbox = parameters.split == Split::bbox;
  // Plans whose binnings keep each pixel's shares keep no footprints; full
  // splitting keeps the corners, bbox their largest distances from the
  // centre, found from the corners of each block of rows.
  const bool footprints = split && !shares_per_binning();
  const bool corner_grid = footprints && !bbox;
  if (corner_grid) find_corners(with_chi);
  std::optional<CornerGrid> corners;
  if (footprints && !corner_grid) corners.emplace(parameters);
  std::vector<double> block_corner_keys;
  std::vector<float> block_corner_chi;
  if (bbox && footprints) {
    centre_keys_.assign(static_cast<std::size_t>(n), std::nan(""));
    key_half_widths_.assign(static_cast<std::size_t>(n), 0.0f);
  }
  if (with_chi) centre_chi_.assign(static_cast<std::size_t>(n), std::nanf(""));
  if (with_chi && bbox) chi_half_widths_.assign(static_cast<std::size_t>(n), 0.0f);
  // A member's footprint: the largest distance of its corners' keys (and
  // chi) from its centre's.
  const std::size_t corner_row = static_cast<std::size_t>(parameters.width) + 1;
  auto half_width = [](const auto& corners, std::size_t corner, std::size_t below,
                       auto&& distance) {
    return std::max(std::max(distance(corners[corner]), distance(corners[corner + 1])),
                    std::max(distance(corners[below]), distance(corners[below + 1])));
  };

  // Which pixels take part, and the cell of each member's radial position.
  std::vector<std::uint32_t> masked, off_sector, without_angle;
  std::vector<std::uint16_t, HugePageAllocator<std::uint16_t>> cells(static_cast<std::size_t>(n),
                                                                     kNotMember);
  std::vector<std::int64_t> cell_members(kCells);
  std::vector<double> positions, chi;
  for (int first = 0; first < parameters.height;) {
    const int left = parameters.height - first;
    const int rows = left < 2 * kRowsPerBlock ? left : kRowsPerBlock;
    const std::size_t block = static_cast<std::size_t>(rows) * parameters.width;
    positions.resize(block);
    radial.rows(first, rows, positions.data());
    if (sector || with_chi) {
      chi.resize(block);
      for (int r = 0; r < rows; ++r)
        lab.chi_row(first + r, parameters.width, chi.data() + r * parameters.width);
    }
    // The block's corners: rows first .. first + rows.
    const double* corner_keys = nullptr;
    const float* corner_chi = nullptr;
    if (corner_grid) {
      const std::size_t corner_start = static_cast<std::size_t>(first) * corner_row;
      corner_keys = corner_keys_.data() + corner_start;
      if (with_chi) corner_chi = corner_chi_.data() + corner_start;
    } else if (footprints) {
      block_corner_keys.resize((rows + 1) * corner_row);
      block_corner_chi.resize(with_chi ? block_corner_keys.size() : 0);
      corners->rows(first, rows + 1, block_corner_keys.data(),
                    with_chi ? block_corner_chi.data() : nullptr);
      corner_keys = block_corner_keys.data();
      corner_chi = block_corner_chi.data();
    }
    const std::int64_t base = std::int64_t{first} * parameters.width;
    for (std::size_t k = 0; k < block; ++k) {
      const auto p = static_cast<std::uint32_t>(base + static_cast<std::int64_t>(k));
      if (unusable(p)) {
        masked.push_back(p);
      } else if (sector && !sector->inside(chi[k])) {
        off_sector.push_back(p);
      } else if (std::isnan(positions[k])) {
        without_angle.push_back(p);
      } else {
        const int cell = radial.cell(positions[k]);
        cells[p] = static_cast<std::uint16_t>(cell);
        ++cell_members[cell];
        ++members_;
        if (!footprints) continue;
        const double key = key_of(parameters, positions[k]);
        const std::size_t corner = k / parameters.width * corner_row + k % parameters.width;
        const double d = half_width(corner_keys, corner, corner + corner_row,
                                    [&](double corner_key) { return std::fabs(corner_key - key); });
        largest_half_width_ = std::max(largest_half_width_, d);
        if (with_chi) centre_chi_[p] = static_cast<float>(chi[k]);
        if (!bbox) continue;
        centre_keys_[p] = key;
        key_half_widths_[p] = static_cast<float>(d);
        if (with_chi) {
          chi_half_widths_[p] = static_cast<float>(half_width(
              corner_chi, corner, corner + corner_row,
              [&](double corner_chi) { return std::fabs(beside(corner_chi, chi[k]) - chi[k]); }));
        }
      }
    }
    first += rows;
  }

  // The members sorted part by part. The sort keeps pixel order among equal
  // positions, as each part's members come in pixel order.
  order_.resize(static_cast<std::size_t>(n));
  key_samples_.reserve(static_cast<std::size_t>(members_ / kKeySampleStep + 2));
  {
    std::int64_t placed = 0;
    std::vector<std::uint32_t> listed;
    // The parts' two arrays, kept from part to part.
    std::vector<Member, HugePageAllocator<Member>> part, scratch;
    for (int part_first = 0; part_first < kCells;) {
      int part_end = part_first;
      std::int64_t size = 0;
      while (part_end < kCells &&
             (size == 0 || size + cell_members[part_end] <= kMostMembersPerSort)) {
        size += cell_members[part_end++];
      }
      if (size > 0) {
        part.clear();
        part.reserve(static_cast<std::size_t>(size));
        auto add_listed = [&] {
          positions.resize(listed.size());
          radial.at(listed.data(), static_cast<std::int64_t>(listed.size()), positions.data());
          for (std::size_t k = 0; k < listed.size(); ++k) {
            part.push_back({ordered_bits(positions[k]), listed[k]});
          }
          listed.clear();
        };
        for (std::int64_t p = 0; p < n; ++p) {
          if (cells[p] >= part_first && cells[p] < part_end) {
            listed.push_back(static_cast<std::uint32_t>(p));
            if (static_cast<std::int64_t>(listed.size()) == kListBlock) add_listed();
          }
        }
        add_listed();
        scratch.resize(part.size());
        radix_sort_by_key(part.data(), scratch.data(), part.size(),
                          [](const Member& m) { return m.radial_bits; });
        for (const Member& m : part) {
          const double key = key_of(parameters, from_ordered_bits(m.radial_bits));
          if (placed % kKeySampleStep == 0 || placed == members_ - 1) key_samples_.push_back(key);
          order_[placed++] = m.pixel;
        }
      }
      part_first = part_end;
    }
  }
  cells = decltype(cells)();

  // Each member's normalisation and dark, in the members' order, or per
  // pixel when pixels are split (their order is the image's then).
  auto norm_of = [&](std::uint32_t p) {
    const LabFrame::Pixel at = lab.at(p % parameters.width, p / parameters.width);
    double norm = flat ? flat[p] : 1.0;
    if (corrections.solid_angle) norm *= at.cos_normal * at.cos_normal * at.cos_normal;
    if (corrections.polarization) {
      const double cos2 = at.cos_two_theta * at.cos_two_theta;
      norm *= (1 + cos2 - *corrections.polarization * at.cos_two_chi * (1 - cos2)) / 2;
    }
    if (corrections.plate_absorption) {
      const double mu_t = *corrections.plate_absorption;
      norm *= std::expm1(-mu_t / at.cos_normal) / std::expm1(-mu_t);
    }
    return norm;
  };
  if (corrections.any_factor() && split) {
    pixel_norms_.assign(static_cast<std::size_t>(n), 0.0f);
    for (std::int64_t i = 0; i < members_; ++i) {
      pixel_norms_[order_[i]] = static_cast<float>(norm_of(order_[i]));
    }
  } else if (corrections.any_factor()) {
    norms_.resize(static_cast<std::size_t>(members_));
    for (std::int64_t i = 0; i < members_; ++i) norms_[i] = norm_of(order_[i]);
  }
  if (dark && split) {
    pixel_darks_.assign(dark, dark + n);
  } else if (dark) {
    darks_.resize(static_cast<std::size_t>(members_));
    for (std::int64_t i = 0; i < members_; ++i) darks_[i] = dark[order_[i]];
  }
  if (parameters.azimuth_bins > 0) lay_out_azimuth();
  if (parameters.azimuth_bins > 0 && !split) group_by_azimuth(lab);
  masked_end_ = members_ + static_cast<std::int64_t>(masked.size());
  off_sector_end_ = masked_end_ + static_cast<std::int64_t>(off_sector.size());
  std::copy(masked.begin(), masked.end(), order_.begin() + members_);
  std::copy(off_sector.begin(), off_sector.end(), order_.begin() + masked_end_);
  std::copy(without_angle.begin(), without_angle.end(), order_.begin() + off_sector_end_);
}

void Plan::lay_out_azimuth() {
  // Over the sector, or the whole circle.
  AzimuthBins& bins = azimuth_bins_;
  bins.count = parameters_.azimuth_bins;
  bins.from_deg = 0;
  double span = 360;
  if (parameters_.sector && parameters_.sector->to_deg - parameters_.sector->from_deg < 360) {
    bins.from_deg = parameters_.sector->from_deg;
    span = parameters_.sector->to_deg - parameters_.sector->from_deg;
  }
  bins.width_deg = span / bins.count;
}

void Plan::group_by_azimuth(const LabFrame& lab) {
  const AzimuthBins& bins = azimuth_bins_;
  double from = std::fmod(bins.from_deg, 360.0);
  if (from < 0) from += 360;

  // Each member's azimuth bin, then the members counted into their groups,
  // in their order.
  std::vector<std::uint16_t> group(static_cast<std::size_t>(members_));
  cake_group_starts_.assign(static_cast<std::size_t>(bins.count) + 1, 0);
  std::vector<double> chi(static_cast<std::size_t>(kListBlock));
  for (std::int64_t first = 0; first < members_; first += kListBlock) {
    const std::int64_t count = std::min(kListBlock, members_ - first);
    lab.chi_of(order_.data() + first, count, parameters_.width, chi.data());
    for (std::int64_t k = 0; k < count; ++k) {
      double offset = chi[k] - from;
      if (offset < 0) offset += 360;
      const int j = std::min(bins.count - 1, static_cast<int>(offset / bins.width_deg));
      group[first + k] = static_cast<std::uint16_t>(j);
      ++cake_group_starts_[j + 1];
    }
  }
  for (int j = 0; j < bins.count; ++j) cake_group_starts_[j + 1] += cake_group_starts_[j];
  std::vector<std::int64_t> next(cake_group_starts_.begin(), cake_group_starts_.end() - 1);
  cake_members_.resize(static_cast<std::size_t>(members_));
  for (std::int64_t i = 0; i < members_; ++i) {
    cake_members_[next[group[i]]++] = static_cast<std::uint32_t>(i);
  }
  cake_pixels_.resize(static_cast<std::size_t>(members_));
  for (std::int64_t k = 0; k < members_; ++k) cake_pixels_[k] = order_[cake_members_[k]];
  if (!norms_.empty()) {
    cake_norms_.resize(static_cast<std::size_t>(members_));
    for (std::int64_t k = 0; k < members_; ++k) cake_norms_[k] = norms_[cake_members_[k]];
  }
  if (!darks_.empty()) {
    cake_darks_.resize(static_cast<std::size_t>(members_));
    for (std::int64_t k = 0; k < members_; ++k) cake_darks_[k] = darks_[cake_members_[k]];
  }
}

void Plan::find_corners(bool with_chi) {
  CornerGrid grid(parameters_);
  const std::size_t corners = static_cast<std::size_t>(grid.width()) * grid.height();
  corner_keys_.resize(corners);
  if (with_chi) corner_chi_.resize(corners);
  for (int first = 0; first < grid.height(); first += kRowsPerBlock) {
    const std::size_t at = static_cast<std::size_t>(first) * grid.width();
    grid.rows(first, std::min(kRowsPerBlock, grid.height() - first), corner_keys_.data() + at,
              with_chi ? corner_chi_.data() + at : nullptr);
  }
}

bool Plan::shares_per_binning() const {
  return parameters_.split == Split::bbox && parameters_.azimuth_bins == 0;
}

PixelShares Plan::pixel_shares(const Edges& edges, std::size_t threads) const {
  PixelShares shares(pixels());
  // The pixels that do not take part, from their lists (each in pixel order).
  std::vector<bool> left_out(static_cast<std::size_t>(pixels()));
  for (const PixelList& list : {masked(), off_sector(), without_angle()}) {
    for (std::int64_t k = 0; k < list.size; ++k) left_out[list.pixels[k]] = true;
  }
  // The members' footprints, blocks of rows at a time: the centres' keys
  // and those of the corners around them.
  const int w = parameters_.width;
  const std::size_t corner_row = static_cast<std::size_t>(w) + 1;
  const std::size_t blocks =
      static_cast<std::size_t>((parameters_.height + kRowsPerBlock - 1) / kRowsPerBlock);
  std::vector<double> largest(std::max<std::size_t>(threads, 1), 0.0);  // per thread
  share_tasks(blocks, threads, [&](std::size_t block, std::size_t thread) {
    const int first = static_cast<int>(block) * kRowsPerBlock;
    const int rows = std::min(kRowsPerBlock, parameters_.height - first);
    std::vector<double> keys(static_cast<std::size_t>(rows) * w);
    std::vector<double> corner_keys(static_cast<std::size_t>(rows + 1) * corner_row);
    Radial(parameters_).rows(first, rows, keys.data());
    to_keys(parameters_, keys.data(), keys.size());
    CornerGrid(parameters_).rows(first, rows + 1, corner_keys.data(), nullptr);
    for (int r = 0; r < rows; ++r) {
      for (int c = 0; c < w; ++c) {
        const std::int64_t p = std::int64_t{first + r} * w + c;
        if (left_out[static_cast<std::size_t>(p)]) {
          shares.leave_out(p);
          continue;
        }
        // The footprint: the largest distance of the corners' keys from the
        // centre's; keys are not negative, so one over the beam is cut at 0.
        const double key = keys[static_cast<std::size_t>(r) * w + c];
        const std::size_t corner = static_cast<std::size_t>(r) * corner_row + c;
        double d = 0;
        for (std::size_t k : {corner, corner + 1, corner + corner_row, corner + corner_row + 1}) {
          d = std::max(d, std::fabs(corner_keys[k] - key));
        }
        largest[thread] = std::max(largest[thread], d);
        shares.set(p, edges, std::max(key - d, 0.0), key + d);
      }
    }
  });
  shares.largest_half_width = *std::max_element(largest.begin(), largest.end());
  return shares;
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

// Members' keys computed again, exactly as the sort saw them.
class MemberKeys {
 public:
  MemberKeys(const PlanParameters& parameters, const std::uint32_t* order)
      : parameters_(parameters), radial_(parameters), order_(order) {}
  void operator()(std::int64_t first, std::int64_t count, double* keys) {
    radial_.at(order_ + first, count, keys);
    to_keys(parameters_, keys, static_cast<std::size_t>(count));
  }

 private:
  const PlanParameters& parameters_;
  Radial radial_;
  const std::uint32_t* order_;
};

void Plan::member_keys(std::int64_t first, std::int64_t count, double* keys) const {
  MemberKeys(parameters_, order_.data())(first, count, keys);
}

double Plan::member_key(std::int64_t member) const {
  double key = 0;
  member_keys(member, 1, &key);
  return key;
}

std::int64_t Plan::first_member_not_below(double key) const {
  MemberKeys member_keys(parameters_, order_.data());
  return first_not_below(key, member_keys);
}

std::int64_t Plan::first_not_below(double edge, MemberKeys& member_keys) const {
  if (members_ == 0) return 0;
  // The first sample not below the edge; the first member not below it lies
  // after the sample before.
  auto below = [edge](double k) { return edge > k; };
  const std::int64_t s =
      std::partition_point(key_samples_.begin(), key_samples_.end(), below) - key_samples_.begin();
  if (s == 0) return 0;
  auto sampled_member = [&](std::int64_t t) { return std::min(t * kKeySampleStep, members_ - 1); };
  const std::int64_t from = sampled_member(s - 1) + 1;
  const std::int64_t samples = static_cast<std::int64_t>(key_samples_.size());
  const std::int64_t to = s < samples ? sampled_member(s) : members_;
  double keys[kKeySampleStep];
  member_keys(from, to - from, keys);
  return from + (std::partition_point(keys, keys + (to - from), below) - keys);
}

std::shared_ptr<const Binning> Plan::binning(double low_key, double high_key,
                                             std::size_t threads) const {
  {
    const std::lock_guard<std::mutex> lock(binning_mutex_);
    if (binning_ && binning_low_ == low_key && binning_high_ == high_key) return binning_;
  }
  auto made = std::make_shared<Binning>();
  made->layout = lay_out_bins(parameters_.bins, low_key, high_key, default_bin_count_);
  MemberKeys member_keys(parameters_, order_.data());
  auto search = [&](double edge) { return first_not_below(edge, member_keys); };
  made->starts = bin_starts(made->layout, search);
  made->edges = Edges(bin_edges(made->layout));
  if (azimuth_bins_.count > 0) {
    made->cake_layout = made->layout;
    if (parameters_.cake_bins) {
      // The cake's own count over the profile's range.
      BinRequest cake;
      cake.count = parameters_.cake_bins;
      cake.low = made->layout.centres.front() - made->layout.width / 2;
      cake.high = made->layout.centres.back() + made->layout.width / 2;
      made->cake_layout = lay_out_bins(cake, low_key, high_key, 1);
    }
    made->cake_edges = Edges(bin_edges(made->cake_layout));
  }
  if (shares_per_binning()) made->shares = pixel_shares(made->edges, threads);
  if (azimuth_bins_.count > 0 && parameters_.split == Split::none) {
    // A group's members come in the members' order, so its radial bins
    // start at the first of its members from each bin's start on.
    const std::vector<std::int64_t> starts =
        parameters_.cake_bins ? bin_starts(made->cake_layout, search) : made->starts;
    const std::size_t m = made->cake_layout.centres.size();
    made->cake_starts.resize(static_cast<std::size_t>(azimuth_bins_.count) * (m + 1));
    for (int j = 0; j < azimuth_bins_.count; ++j) {
      std::int64_t position = cake_group_starts_[j];
      const std::int64_t end = cake_group_starts_[j + 1];
      for (std::size_t b = 0; b <= m; ++b) {
        while (position < end && cake_members_[position] < starts[b]) ++position;
        made->cake_starts[j * (m + 1) + b] = position;
      }
    }
  }

  const std::lock_guard<std::mutex> lock(binning_mutex_);
  binning_ = made;
  binning_low_ = low_key;
  binning_high_ = high_key;
  return made;
}

}  // namespace vokip
