// Pictures a person looks at before trusting a profile: the profile's plot
// as SVG and as PNG, and as PNG files drawn with cairo the cake as a colour
// map and the image with the pixels left out shaded, the beam centre and
// circles of constant angle at the profile's strongest peaks drawn over it.
#pragma once

#include <cstdint>
#include <string>
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
// the left; empty cells grey.
std::vector<std::uint8_t> cake_png(const Profile& profile, const std::string& title);

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
