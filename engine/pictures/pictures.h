// Pictures a person looks at before trusting a profile: the profile's plot
// as SVG and as PNG, and as PNG files drawn with cairo the cake as a colour
// map and the image with the pixels left out shaded, the beam centre and
// circles of constant angle at the profile's strongest peaks drawn over it.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/formats/image.h"
#include "engine/formats/profile_writers.h"
#include "engine/plan/plan.h"
#include "engine/profile/profile.h"

namespace vokip {

// The profile's plot as an SVG file's text; bins without pixels break the line.
std::string profile_svg(const Profile& profile, const Geometry& geometry,
                        const ProfileOrigin& origin);

std::vector<std::uint8_t> profile_png(const Profile& profile, const std::string& title);

// The cake, log-scaled: rows of azimuth bins from the top, radial bins from
// the left (in the bins' keys: q for d); empty cells grey.
std::vector<std::uint8_t> cake_png(const Profile& profile, const std::string& title);

// A run's profiles as one picture, its waterfall: image index down, the
// radial axis across, log-scaled, images that failed grey; rows are added as
// images are reduced. A run of more images (or bins) than the picture has
// pixels is shown in blocks of consecutive images (bins), each cell the
// largest value of its block, so that it holds the picture's cells and no
// more. The radial axis is in the bins' keys (q for d, whose bins are even in q).
class Waterfall {
 public:
  Waterfall(std::size_t images, Unit unit, const std::vector<double>& centres, double bin_width);
  // Image `image`'s profile values, one per bin; NaN for an empty bin.
  void add(std::size_t image, const std::vector<double>& values);
  std::vector<std::uint8_t> png(const std::string& title) const;

 private:
  std::size_t images_, bins_;
  Unit unit_;
  std::pair<double, double> centres_;  // the first bin's and the last's
  double bin_width_;
  std::size_t row_step_ = 1, column_step_ = 1, rows_ = 0, columns_ = 0;
  std::vector<double> cells_;  // rows_ x columns_; NaN where nothing was added
};

// The image, log-scaled and reduced to at most about 1000 pixels across;
// pixels of value 0, masked or outside the sector tinted; the beam centre
// crossed; the curves of constant key (2-theta, q, d or r) of the profile's
// strongest peaks, up to peaks of them, drawn in.
std::vector<std::uint8_t> image_png(const Image& image, const Plan& plan, const Profile& profile,
                                    const std::string& title, int peaks = 5);

// The positions (keys) of the profile's strongest peaks: bins above both
// neighbours within a few bins, strongest over their surroundings first.
std::vector<double> strongest_peaks(const Profile& profile, int most);

}  // namespace vokip
