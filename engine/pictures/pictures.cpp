#include "engine/pictures/pictures.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <sstream>

#include "engine/base/error.h"
#include "engine/base/text.h"
#include "engine/geometry/lab_frame.h"
#include "engine/geometry/pixel_angles.h"
#include "engine/pictures/image_scale.h"
#include "engine/pictures/plot_frame.h"
#include "engine/pictures/png.h"

namespace vokip {

namespace {

using Surface = std::unique_ptr<cairo_surface_t, void (*)(cairo_surface_t*)>;
using Context = std::unique_ptr<cairo_t, void (*)(cairo_t*)>;

struct Shade {
  double r, g, b;
};

// A colour map from dark blue through green to yellow, dark for small.
Shade colour_at(double t) {
  static const Shade kStops[] = {{0.267, 0.005, 0.329},
                                 {0.231, 0.322, 0.545},
                                 {0.129, 0.569, 0.549},
                                 {0.369, 0.788, 0.384},
                                 {0.993, 0.906, 0.144}};
  t = std::clamp(t, 0.0, 1.0) * 4;
  const int k = std::min(3, static_cast<int>(t));
  const double f = t - k;
  const Shade& a = kStops[k];
  const Shade& b = kStops[k + 1];
  return {a.r + (b.r - a.r) * f, a.g + (b.g - a.g) * f, a.b + (b.b - a.b) * f};
}

// A pixel of a cairo RGB24 surface.
std::uint32_t packed(const Shade& c) {
  return static_cast<std::uint32_t>(c.r * 255) << 16 | static_cast<std::uint32_t>(c.g * 255) << 8 |
         static_cast<std::uint32_t>(c.b * 255);
}

// What cairo drew, as the project's PNG writer takes it.
std::vector<std::uint8_t> png_of(cairo_surface_t* surface) {
  cairo_surface_flush(surface);
  const int width = cairo_image_surface_get_width(surface);
  const int height = cairo_image_surface_get_height(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  const unsigned char* data = cairo_image_surface_get_data(surface);
  Picture picture(width, height, Picture::Colour::rgb);
  for (int y = 0; y < height; ++y) {
    const auto* line = reinterpret_cast<const std::uint32_t*>(data + y * stride);
    for (int x = 0; x < width; ++x) {
      const std::uint32_t v = line[x];
      picture.set(x, y,
                  Rgb{static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8),
                      static_cast<std::uint8_t>(v)});
    }
  }
  return encode_png(picture);
}

// A picture of width x height points, white, with the font set.
struct Canvas {
  Surface surface;
  Context cr;
  Canvas(int width, int height)
      : surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height),
                cairo_surface_destroy),
        cr(cairo_create(surface.get()), cairo_destroy) {
    cairo_set_source_rgb(cr.get(), 1, 1, 1);
    cairo_paint(cr.get());
    cairo_select_font_face(cr.get(), "sans-serif", CAIRO_FONT_SLANT_NORMAL,
                           CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr.get(), 13);
  }

  // Text anchored at (x, y): align 0 left, 0.5 centred, 1 right; y is the baseline.
  void text(double x, double y, const std::string& s, double align = 0, double angle = 0) {
    cairo_text_extents_t extents;
    cairo_text_extents(cr.get(), s.c_str(), &extents);
    cairo_save(cr.get());
    cairo_translate(cr.get(), x, y);
    cairo_rotate(cr.get(), angle);
    cairo_move_to(cr.get(), -extents.x_advance * align, 0);
    cairo_set_source_rgb(cr.get(), 0, 0, 0);
    cairo_show_text(cr.get(), s.c_str());
    cairo_restore(cr.get());
  }

  // Axes around the box (left, top, width, height) for values x_low ..
  // x_high across and y_low .. y_high up (or down when y_down), with ticks
  // and labels.
  void axes(double left, double top, double width, double height, double x_low, double x_high,
            double y_low, double y_high, bool y_down, const std::string& x_label,
            const std::string& y_label) {
    cairo_t* c = cr.get();
    cairo_set_source_rgb(c, 0, 0, 0);
    cairo_set_line_width(c, 1);
    cairo_rectangle(c, left + 0.5, top + 0.5, width, height);
    cairo_stroke(c);
    for (double t : round_ticks(x_low, x_high)) {
      const double x = left + (t - x_low) / (x_high - x_low) * width;
      cairo_move_to(c, x, top + height);
      cairo_line_to(c, x, top + height + 6);
      cairo_stroke(c);
      text(x, top + height + 20, printf_string("%g", t), 0.5);
    }
    for (double t : round_ticks(y_low, y_high)) {
      const double f = (t - y_low) / (y_high - y_low);
      const double y = y_down ? top + f * height : top + height - f * height;
      cairo_move_to(c, left - 6, y);
      cairo_line_to(c, left, y);
      cairo_stroke(c);
      text(left - 10, y + 4, printf_string("%g", t), 1);
    }
    text(left + width / 2, top + height + 42, x_label, 0.5);
    text(22, top + height / 2, y_label, 0.5, -std::acos(0.0));
  }
};

// The frame of a picture of cells: its size, its title, the values at the
// box's edges (y from y_low at the top down to y_high) and the axes' labels.
struct GridFrame {
  double width, height;
  std::string title;
  double x_low, x_high, y_low, y_high;
  std::string x_label, y_label;
};

// The picture's box: its margins.
constexpr double kGridLeft = 80, kGridRight = 30, kGridTop = 50, kGridBottom = 70;

// Cells (row-major, `columns` a row, the top row first), log-scaled over
// their positive values and drawn stretched into the frame's box, with
// labelled axes; empty (NaN) cells grey.
std::vector<std::uint8_t> grid_png(const std::vector<double>& cells, int columns, int rows,
                                   const GridFrame& f) {
  std::vector<double> positive;
  for (double v : cells) {
    if (v > 0) positive.push_back(v);
  }
  const LogScale scale(std::move(positive));
  // The cells as an image of their own, then drawn scaled into the box.
  Surface image(cairo_image_surface_create(CAIRO_FORMAT_RGB24, columns, rows),
                cairo_surface_destroy);
  cairo_surface_flush(image.get());
  unsigned char* data = cairo_image_surface_get_data(image.get());
  const int stride = cairo_image_surface_get_stride(image.get());
  for (int j = 0; j < rows; ++j) {
    auto* line = reinterpret_cast<std::uint32_t*>(data + j * stride);
    for (int i = 0; i < columns; ++i) {
      const double v = cells[static_cast<std::size_t>(j) * columns + i];
      // Empty (NaN) cells grey.
      const Shade colour = v > 0    ? colour_at(scale(v))
                           : v <= 0 ? colour_at(0)
                                    : Shade{0.75, 0.75, 0.75};
      line[i] = packed(colour);
    }
  }
  cairo_surface_mark_dirty(image.get());

  const double box_w = f.width - kGridLeft - kGridRight, box_h = f.height - kGridTop - kGridBottom;
  Canvas canvas(static_cast<int>(f.width), static_cast<int>(f.height));
  cairo_t* c = canvas.cr.get();
  cairo_save(c);
  cairo_translate(c, kGridLeft, kGridTop);
  cairo_scale(c, box_w / columns, box_h / rows);
  cairo_set_source_surface(c, image.get(), 0, 0);
  cairo_pattern_set_filter(cairo_get_source(c), CAIRO_FILTER_NEAREST);
  cairo_paint(c);
  cairo_restore(c);
  canvas.text(kGridLeft, 30, f.title);
  canvas.axes(kGridLeft, kGridTop, box_w, box_h, f.x_low, f.x_high, f.y_low, f.y_high, true,
              f.x_label, f.y_label);
  return png_of(canvas.surface.get());
}

// A waterfall's box, in pixels: at most a cell per pixel.
struct {
  std::size_t rows = 680, columns = 890;
} constexpr kWaterfallBox;

// A picture's radial axis over bins of these centres (keys): in the keys,
// which are even; for d, binned even in q, that is q.
struct RadialAxis {
  double low, high;
  const char* label;
};

RadialAxis radial_axis(Unit unit, const std::vector<double>& centres, double bin_width) {
  return {centres.front() - bin_width / 2, centres.back() + bin_width / 2,
          unit_label(unit == Unit::d_angstrom ? Unit::q_inv_angstrom : unit)};
}

std::string xml_escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace

std::string profile_svg(const Profile& p, const Geometry& g, const ProfileOrigin& o) {
  const PlotFrame f = profile_frame(p);
  const double width = f.width, height = f.height, left = f.left, top = f.top;
  const double plot_w = f.box_width(), plot_h = f.box_height();
  std::ostringstream s;
  s << printf_string(
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" viewBox=\"0 0 "
      "%.0f %.0f\" font-family=\"sans-serif\" font-size=\"13\">\n",
      width, height, width, height);
  s << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  s << printf_string("<text x=\"%.0f\" y=\"24\" font-size=\"16\">", left)
    << xml_escaped(o.input_name) << " — " << statistic_name(p.statistic) << " profile</text>\n";
  s << printf_string("<text x=\"%.0f\" y=\"44\" font-size=\"11\" fill=\"#555\">", left)
    << xml_escaped(describe(g)) << "</text>\n";
  s << printf_string(
      "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"none\" "
      "stroke=\"black\"/>\n",
      left, top, plot_w, plot_h);
  for (double t : round_ticks(f.x_low, f.x_high)) {
    const double x = f.x(t);
    s << printf_string(
        "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"black\"/>"
        "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">%g</text>\n",
        x, top + plot_h, x, top + plot_h + 6, x, top + plot_h + 22, t);
  }
  for (double t : round_ticks(f.y_low, f.y_high)) {
    const double y = f.y(t);
    s << printf_string(
        "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"black\"/>"
        "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\">%g</text>\n",
        left - 6, y, left, y, left - 10, y + 4, t);
  }
  s << printf_string("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">%s</text>\n",
                     left + plot_w / 2, height - 20, unit_label(p.unit));
  s << printf_string(
      "<text transform=\"translate(22 %.1f) rotate(-90)\" text-anchor=\"middle\">%s "
      "intensity</text>\n",
      top + plot_h / 2, p.statistic == Statistic::median ? "Median" : "Mean");
  // One line per run of bins with pixels: an empty bin breaks the line.
  std::string points;
  auto flush = [&] {
    if (!points.empty()) {
      s << "<polyline fill=\"none\" stroke=\"#1f5fbf\" stroke-width=\"1.2\" points=\"" << points
        << "\"/>\n";
    }
    points.clear();
  };
  for (std::size_t i = 0; i < p.centre.size(); ++i) {
    if (p.count[i] == 0 || !std::isfinite(p.value[i])) {
      flush();
      continue;
    }
    points += printf_string("%.2f,%.2f ", f.x(axis_value(p.unit, p.centre[i])), f.y(p.value[i]));
  }
  flush();
  s << "</svg>\n";
  return s.str();
}

std::vector<double> strongest_peaks(const Profile& p, int most) {
  const std::size_t m = p.value.size();
  constexpr std::size_t kReach = 3;
  struct Peak {
    double key, prominence;
  };
  std::vector<Peak> peaks;
  for (std::size_t i = kReach; i + kReach < m; ++i) {
    if (p.count[i] == 0) continue;
    bool top = true;
    double lowest = p.value[i];
    for (std::size_t k = i - kReach; k <= i + kReach && top; ++k) {
      if (k == i || p.count[k] == 0) continue;
      top = k < i ? p.value[k] < p.value[i] : p.value[k] <= p.value[i];
      lowest = std::min(lowest, p.value[k]);
    }
    // Over the lowest bin within ten times the reach: how far it stands out.
    for (std::size_t k = (i > 10 * kReach ? i - 10 * kReach : 0); k < std::min(m, i + 10 * kReach);
         ++k) {
      if (p.count[k] > 0) lowest = std::min(lowest, p.value[k]);
    }
    if (top && p.value[i] > lowest) peaks.push_back({p.centre[i], p.value[i] - lowest});
  }
  std::sort(peaks.begin(), peaks.end(),
            [](const Peak& a, const Peak& b) { return a.prominence > b.prominence; });
  std::vector<double> keys;
  for (std::size_t k = 0; k < peaks.size() && static_cast<int>(k) < most; ++k) {
    keys.push_back(peaks[k].key);
  }
  return keys;
}

std::vector<std::uint8_t> profile_png(const Profile& p, const std::string& title) {
  const PlotFrame f = profile_frame(p);
  Canvas canvas(static_cast<int>(f.width), static_cast<int>(f.height));
  cairo_t* c = canvas.cr.get();
  canvas.text(f.left, 30, title);
  canvas.axes(f.left, f.top, f.box_width(), f.box_height(), f.x_low, f.x_high, f.y_low, f.y_high,
              false, unit_label(p.unit),
              p.statistic == Statistic::median ? "Median intensity" : "Mean intensity");
  cairo_rectangle(c, f.left, f.top, f.box_width(), f.box_height());
  cairo_clip(c);
  cairo_set_source_rgb(c, 0.12, 0.37, 0.75);
  cairo_set_line_width(c, 1.2);
  bool drawing = false;
  for (std::size_t i = 0; i < p.value.size(); ++i) {
    if (p.count[i] == 0 || !std::isfinite(p.value[i])) {
      drawing = false;  // an empty bin breaks the line
      continue;
    }
    const double x = f.x(axis_value(p.unit, p.centre[i]));
    const double y = f.y(p.value[i]);
    if (drawing) {
      cairo_line_to(c, x, y);
    } else {
      cairo_move_to(c, x, y);
    }
    drawing = true;
  }
  cairo_stroke(c);
  return png_of(canvas.surface.get());
}

std::vector<std::uint8_t> cake_png(const Profile& p, const std::string& title) {
  const Cake& cake = p.cake;
  if (cake.empty()) throw Error("no cake to draw");
  const RadialAxis x = radial_axis(p.unit, cake.centre, cake.bin_width);
  const double chi_low = cake.azimuth.from_deg;
  const double chi_high = chi_low + cake.azimuth.count * cake.azimuth.width_deg;
  return grid_png(
      cake.value, static_cast<int>(cake.centre.size()), cake.azimuth.count,
      {1000, 560, title, x.low, x.high, chi_low, chi_high, x.label, "Azimuth chi (degrees)"});
}

Waterfall::Waterfall(std::size_t images, Unit unit, const std::vector<double>& centres,
                     double bin_width)
    : images_(images),
      bins_(centres.size()),
      unit_(unit),
      centres_{centres.empty() ? 0 : centres.front(), centres.empty() ? 0 : centres.back()},
      bin_width_(bin_width) {
  // At most a cell per pixel of the box, each the largest of its block.
  row_step_ = std::max<std::size_t>(1, (images + kWaterfallBox.rows - 1) / kWaterfallBox.rows);
  column_step_ =
      std::max<std::size_t>(1, (bins_ + kWaterfallBox.columns - 1) / kWaterfallBox.columns);
  rows_ = (images + row_step_ - 1) / row_step_;
  columns_ = (bins_ + column_step_ - 1) / column_step_;
  cells_.assign(rows_ * columns_, std::nan(""));
}

void Waterfall::add(std::size_t image, const std::vector<double>& values) {
  if (image >= images_ || values.size() != bins_) throw Error("no such row of the waterfall");
  double* row = cells_.data() + image / row_step_ * columns_;
  for (std::size_t i = 0; i < bins_; ++i) {
    const double v = values[i];
    double& cell = row[i / column_step_];
    if (!std::isnan(v) && !(cell >= v)) cell = v;
  }
}

std::vector<std::uint8_t> Waterfall::png(const std::string& title) const {
  if (rows_ == 0 || columns_ == 0) throw Error("no profiles to draw");
  const RadialAxis x = radial_axis(unit_, {centres_.first, centres_.second}, bin_width_);
  const double rows = static_cast<double>(images_);
  return grid_png(cells_, static_cast<int>(columns_), static_cast<int>(rows_),
                  {kWaterfallBox.columns + 110.0, kWaterfallBox.rows + 120.0, title, x.low, x.high,
                   -0.5, rows - 0.5, x.label, "Image (row of the run)"});
}

std::vector<std::uint8_t> image_png(const Image& image, const Plan& plan, const Profile& profile,
                                    const std::string& title, int peaks) {
  const PlanParameters& parameters = plan.parameters();
  const PictureBlocks blocks(parameters.width, parameters.height, 1000);
  const int step = blocks.step, w = blocks.width, h = blocks.height;

  // Each picture pixel: the largest of its image pixels, and whether all of
  // them are left out.
  std::vector<double> value(static_cast<std::size_t>(w) * h, 0);
  std::vector<std::uint8_t> kept(static_cast<std::size_t>(w) * h, 0);
  std::vector<std::uint8_t> left_out(static_cast<std::size_t>(plan.pixels()), 0);
  for (const PixelList& list : {plan.masked(), plan.off_sector(), plan.without_angle()}) {
    for (std::int64_t k = 0; k < list.size; ++k) left_out[list.pixels[k]] = 1;
  }
  for (int row = 0; row < parameters.height; ++row) {
    for (int col = 0; col < parameters.width; ++col) {
      const std::int64_t p = std::int64_t{row} * parameters.width + col;
      const std::size_t at = blocks.at(col, row);
      const double v = image.value(p);
      value[at] = std::max(value[at], static_cast<double>(v));
      if (v != 0 && !left_out[p]) kept[at] = 1;
    }
  }
  std::vector<double> positive;
  for (double v : value) {
    if (v > 0) positive.push_back(v);
  }
  const LogScale scale(std::move(positive));

  // The key of every picture pixel's centre, for the curves: the geometry
  // seen at the picture's coarser pixels.
  Geometry coarse = parameters.geometry;
  coarse.pixel_x_um *= step;
  coarse.pixel_y_um *= step;
  coarse.center_x_px /= step;
  coarse.center_y_px /= step;
  std::vector<double> keys(static_cast<std::size_t>(w) * h);
  if (follows_two_theta(parameters.unit)) {
    keys = PixelAngles(coarse, w, h).two_theta_map();
    for (double& k : keys) k = key_of_two_theta(parameters.unit, k, coarse.wavelength_angstrom);
  } else {
    const LabFrame lab(coarse);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x)
        keys[static_cast<std::size_t>(y) * w + x] = lab.at(x, y).radius_mm;
    }
  }
  const std::vector<double> curve_keys = strongest_peaks(profile, peaks);

  Surface picture(cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h), cairo_surface_destroy);
  cairo_surface_flush(picture.get());
  unsigned char* data = cairo_image_surface_get_data(picture.get());
  const int stride = cairo_image_surface_get_stride(picture.get());
  for (int y = 0; y < h; ++y) {
    auto* line = reinterpret_cast<std::uint32_t*>(data + y * stride);
    for (int x = 0; x < w; ++x) {
      const std::size_t at = static_cast<std::size_t>(y) * w + x;
      Shade colour = value[at] > 0 ? colour_at(scale(value[at])) : colour_at(0);
      if (!kept[at]) colour = {0.55 + 0.45 * colour.r, 0.3 * colour.g, 0.3 * colour.b};
      // A curve passes between this pixel and its right or lower neighbour.
      for (double k : curve_keys) {
        const bool right = x + 1 < w && (keys[at] < k) != (keys[at + 1] < k);
        const bool below = y + 1 < h && (keys[at] < k) != (keys[at + w] < k);
        if (right || below) colour = {1, 1, 1};
      }
      line[x] = packed(colour);
    }
  }
  cairo_surface_mark_dirty(picture.get());

  const double margin = 40;
  Canvas canvas(w + 2 * static_cast<int>(margin), h + 2 * static_cast<int>(margin));
  cairo_t* c = canvas.cr.get();
  cairo_set_source_surface(c, picture.get(), margin, margin);
  cairo_paint(c);
  canvas.text(margin, 26, title);
  // The beam centre: a cross.
  const double cx = margin + parameters.geometry.center_x_px / step;
  const double cy = margin + parameters.geometry.center_y_px / step;
  cairo_set_source_rgb(c, 1, 0.2, 0.2);
  cairo_set_line_width(c, 2);
  cairo_move_to(c, cx - 12, cy);
  cairo_line_to(c, cx + 12, cy);
  cairo_move_to(c, cx, cy - 12);
  cairo_line_to(c, cx, cy + 12);
  cairo_stroke(c);
  return png_of(canvas.surface.get());
}

}  // namespace vokip
