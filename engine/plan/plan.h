// A plan: everything about a reduction's pixels that does not change from
// image to image of one geometry, made once and shared by every image that
// needs the same: every pixel's radial position, the order of the pixels by
// it, the pixels left out for good, each pixel's correction, and the bins.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "engine/formats/image_files.h"
#include "engine/formats/mask.h"
#include "engine/geometry/geometry.h"
#include "engine/geometry/units.h"
#include "engine/memory/huge_pages.h"
#include "engine/plan/bins.h"
#include "engine/plan/footprints.h"
#include "engine/profile/profile.h"

namespace vokip {

class LabFrame;
class MemberKeys;

struct AzimuthSector {
  double from_deg = 0, to_deg = 360;  // kept: from <= chi < to, taken modulo 360

  bool operator==(const AzimuthSector& o) const {
    return from_deg == o.from_deg && to_deg == o.to_deg;
  }
};

// What a pixel's value is divided by, and what is taken from it first:
// value = (raw - dark) / (flat x solid angle x polarization).
struct Corrections {
  bool solid_angle = true;             // cos^3 of the ray's angle to the plate's normal
  std::optional<double> polarization;  // P, -1 to 1: (1 + cos^2 2th - P cos 2chi sin^2 2th) / 2
  // The image plate's phosphor, attenuation times thickness mu t: a ray at
  // angle a to the plate's normal crosses t / cos a of it and is recorded
  // by the share 1 - exp(-mu t / cos a), against 1 - exp(-mu t) at normal
  // incidence.
  std::optional<double> plate_absorption;
  std::shared_ptr<const ValueImage> dark, flat;

  bool any_factor() const { return solid_angle || polarization || plate_absorption || flat; }
  // Images compare by identity: a run reads each file once.
  bool operator==(const Corrections& o) const {
    return solid_angle == o.solid_angle && polarization == o.polarization &&
           plate_absorption == o.plate_absorption && dark == o.dark && flat == o.flat;
  }
};

// What a plan is made for. Two images with equal parameters share a plan.
struct PlanParameters {
  int width = 0, height = 0;  // the image's size in pixels
  Geometry geometry;
  std::shared_ptr<const Mask> mask;  // pixels left out, if any
  std::optional<AzimuthSector> sector;
  BinRequest bins;  // in the unit's keys
  Unit unit = Unit::two_theta_deg;
  Corrections corrections;
  // The cake: this many bins of the azimuth chi, over the sector or 0 to
  // 360 degrees, each binned radially like the profile, or in cake_bins
  // radial bins over the profile's range; 0 for none.
  int azimuth_bins = 0;
  std::optional<std::int64_t> cake_bins;
  Split split = Split::none;

  // Masks compare by identity: a run reads each mask file once.
  bool operator==(const PlanParameters& o) const;
};

// The bins for one extent of an image's data, and where each bin's members
// start among the plan's members.
struct Binning {
  BinLayout layout;
  std::vector<std::int64_t> starts;  // bins + 1 positions in the plan's member order
  Edges edges;                       // the bins' edges, those of the module's partition
  // With a cake: its radial bins (the profile's, or its own count over the
  // same range) and, without splitting, for azimuth bin j the (radial bins
  // + 1) positions in the plan's cake order where its radial bins start,
  // from cake_starts[j * (radial bins + 1)].
  BinLayout cake_layout;
  Edges cake_edges;
  std::vector<std::int64_t> cake_starts;
  // With bbox splitting and no cake, each pixel's shares of the bins.
  PixelShares shares;
};

// A run of pixel indices.
struct PixelList {
  const std::uint32_t* pixels;
  std::int64_t size;
};

class Plan {
 public:
  // Computes every pixel's radial position (2-theta with the module's core,
  // or the radius from the beam) and sorts the pixels that can take part by
  // it. Throws Error when the parameters cannot be planned (a mask, dark or
  // flat of another size, a wavelength missing for the unit).
  explicit Plan(const PlanParameters& parameters);

  const PlanParameters& parameters() const { return parameters_; }
  std::int64_t pixels() const { return std::int64_t{parameters_.width} * parameters_.height; }

  // The pixels that can take part (not masked, inside the sector, with an
  // angle) in ascending order of their key, the position on the unit's axis
  // (q for d); pixels of equal position in pixel order.
  PixelList members() const { return {order_.data(), members_}; }
  // The keys of members first .. first + count - 1. The plan keeps no exact
  // keys: they are computed again, exactly as the sort saw them, when asked for.
  void member_keys(std::int64_t first, std::int64_t count, double* keys) const;
  double member_key(std::int64_t member) const;
  // The first member whose key is not below the key, or the member count.
  std::int64_t first_member_not_below(double key) const;
  // Per member, in the same order: the normalisation flat x solid angle x
  // polarization, and the dark's value; null when not corrected. Plans that
  // split pixels keep them per pixel instead (pixel_norms, pixel_darks).
  const double* norms() const { return norms_.empty() ? nullptr : norms_.data(); }
  const float* darks() const { return darks_.empty() ? nullptr : darks_.data(); }

  // With a cake: its azimuth bins, and the members grouped by azimuth bin,
  // each group in the members' order; group j's members are positions
  // cake_group_starts()[j] .. cake_group_starts()[j + 1] - 1 of the cake's
  // order. The cake's pixels, factors and darks are copies of the members'
  // in that order, so that a cake row reads them in sequence.
  const AzimuthBins& azimuth_bins() const { return azimuth_bins_; }
  const std::vector<std::int64_t>& cake_group_starts() const { return cake_group_starts_; }
  const std::uint32_t* cake_pixels() const { return cake_pixels_.data(); }
  const double* cake_norms() const { return cake_norms_.empty() ? nullptr : cake_norms_.data(); }
  const float* cake_darks() const { return cake_darks_.empty() ? nullptr : cake_darks_.data(); }

  // With splitting, per pixel in the image's order: its normalisation and
  // dark (null when not corrected); and, but for bbox splitting without a
  // cake, whose binnings keep each pixel's shares instead, the footprint of
  // pixel (column, row) on the keys' axis (its centre's key NaN for a pixel
  // that does not take part) and, for the cake and full splitting, around
  // the beam.
  const float* pixel_norms() const { return pixel_norms_.empty() ? nullptr : pixel_norms_.data(); }
  const float* pixel_darks() const { return pixel_darks_.empty() ? nullptr : pixel_darks_.data(); }
  FootprintMap footprints() const {
    auto data = [](const auto& v) { return v.empty() ? nullptr : v.data(); };
    return {parameters_.width,      data(centre_keys_), data(key_half_widths_), data(centre_chi_),
            data(chi_half_widths_), data(corner_keys_), data(corner_chi_)};
  }
  // The largest d of any member's footprint the plan keeps: a member's
  // footprint lies within it of its centre.
  double largest_half_width() const { return largest_half_width_; }

  // The pixels left out for good, by reason (the first that applies), each
  // in ascending order. Masked includes pixels of a flat that is not
  // positive, or of a dark or flat that is not a number.
  PixelList masked() const;
  PixelList off_sector() const;
  PixelList without_angle() const;

  // The bins when the data's keys span low_key to high_key: bin i's members
  // are those from the first whose key is not below its lower edge up to the
  // next bin's, the edges the module's bin partition uses. Images whose data
  // span the same keys share one binning. Throws Error when the bin request
  // cannot be met.
  // Made on up to `threads` threads.
  std::shared_ptr<const Binning> binning(double low_key, double high_key,
                                         std::size_t threads = 1) const;

 private:
  void lay_out_azimuth();
  void group_by_azimuth(const LabFrame& lab);
  // The corners' keys (and chi) of every pixel, for splitting.
  void find_corners(bool with_chi);
  // Whether a binning keeps each pixel's shares of its bins rather than the
  // plan its footprint; and those shares.
  bool shares_per_binning() const;
  PixelShares pixel_shares(const Edges& edges, std::size_t threads) const;
  // The first member whose key is not below the edge, or the member count;
  // member_keys computes the keys it needs.
  std::int64_t first_not_below(double edge, MemberKeys& member_keys) const;

  PlanParameters parameters_;
  // Members by key, then the masked, off-sector and angle-less pixels.
  std::vector<std::uint32_t, HugePageAllocator<std::uint32_t>> order_;
  // The keys of every kKeySampleStep-th member (and of the last): where an
  // edge falls among the members is found among these, then among the keys
  // of the few members between two of them.
  std::vector<double> key_samples_;
  std::vector<double, HugePageAllocator<double>> norms_;
  std::vector<float, HugePageAllocator<float>> darks_;
  // Splitting: per pixel, and per corner ((width + 1) x (height + 1)).
  std::vector<double, HugePageAllocator<double>> centre_keys_, corner_keys_;
  std::vector<float, HugePageAllocator<float>> key_half_widths_, centre_chi_, chi_half_widths_,
      corner_chi_;
  std::vector<float, HugePageAllocator<float>> pixel_norms_, pixel_darks_;
  double largest_half_width_ = 0;
  AzimuthBins azimuth_bins_;
  // Each cake position's member, for placing the radial bins' starts.
  std::vector<std::uint32_t, HugePageAllocator<std::uint32_t>> cake_members_;
  std::vector<std::uint32_t, HugePageAllocator<std::uint32_t>> cake_pixels_;
  std::vector<double, HugePageAllocator<double>> cake_norms_;
  std::vector<float, HugePageAllocator<float>> cake_darks_;
  std::vector<std::int64_t> cake_group_starts_;
  std::int64_t members_ = 0, masked_end_ = 0, off_sector_end_ = 0;
  std::int64_t default_bin_count_ = 1;

  mutable std::mutex binning_mutex_;
  mutable std::shared_ptr<const Binning> binning_;
  mutable double binning_low_ = 0, binning_high_ = 0;
};

}  // namespace vokip
