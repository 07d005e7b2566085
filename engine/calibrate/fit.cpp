#include "engine/calibrate/fit.h"

#include <gsl/gsl_blas.h>
#include <gsl/gsl_errno.h>
#include <gsl/gsl_multifit_nlinear.h>

#include <cmath>
#include <memory>
#include <string>

#include "engine/base/constants.h"
#include "engine/base/error.h"
#include "engine/geometry/pixel_angles.h"
#include "engine/geometry/units.h"

namespace vokip {

namespace {

// Where each fitted value sits in the parameter vector; -1 when held fixed.
struct Layout {
  int distance = -1, centre_x = -1, centre_y = -1, tilt_x = -1, tilt_y = -1, wavelength = -1;
  int size = 0;

  explicit Layout(const FitFreedom& f) {
    if (f.distance) distance = size++;
    if (f.centre) {
      centre_x = size++;
      centre_y = size++;
    }
    if (f.tilt) {
      tilt_x = size++;
      tilt_y = size++;
    }
    if (f.wavelength) wavelength = size++;
  }
};

struct Model {
  const std::vector<RingPoint>* points;
  const std::vector<double>* ring_d;
  Geometry start;
  Layout layout;
  std::vector<double> x, y;  // the points

  Geometry geometry_of(const gsl_vector* p) const {
    Geometry g = start;
    if (layout.distance >= 0) g.distance_mm = gsl_vector_get(p, layout.distance);
    if (layout.centre_x >= 0) {
      g.center_x_px = gsl_vector_get(p, layout.centre_x);
      g.center_y_px = gsl_vector_get(p, layout.centre_y);
    }
    if (layout.tilt_x >= 0) {
      const double tx = gsl_vector_get(p, layout.tilt_x), ty = gsl_vector_get(p, layout.tilt_y);
      g.tilt_deg = std::hypot(tx, ty);
      const double direction = std::atan2(ty, tx) * kDegreesPerRadian;
      g.tilt_direction_deg = direction < 0 ? direction + 360 : direction;
    }
    if (layout.wavelength >= 0) g.wavelength_angstrom = gsl_vector_get(p, layout.wavelength);
    return g;
  }
};

int residuals(const gsl_vector* p, void* data, gsl_vector* f) {
  const Model& m = *static_cast<const Model*>(data);
  const Geometry g = m.geometry_of(p);
  const std::vector<double> two_theta = point_two_thetas(g, m.x, m.y);
  std::vector<double> ring_two_theta(m.ring_d->size());
  for (std::size_t r = 0; r < ring_two_theta.size(); ++r) {
    ring_two_theta[r] = two_theta_of_d((*m.ring_d)[r], *g.wavelength_angstrom);
  }
  for (std::size_t i = 0; i < two_theta.size(); ++i) {
    gsl_vector_set(f, i, two_theta[i] - ring_two_theta[(*m.points)[i].ring]);
  }
  return GSL_SUCCESS;
}

// GSL's errors are reported through the fit's status, not by aborting.
class QuietGslErrors {
 public:
  QuietGslErrors() : previous_(gsl_set_error_handler_off()) {}
  ~QuietGslErrors() { gsl_set_error_handler(previous_); }
  QuietGslErrors(const QuietGslErrors&) = delete;
  QuietGslErrors& operator=(const QuietGslErrors&) = delete;

 private:
  gsl_error_handler_t* previous_;
};

struct WorkspaceFree {
  void operator()(gsl_multifit_nlinear_workspace* w) const { gsl_multifit_nlinear_free(w); }
};
struct VectorFree {
  void operator()(gsl_vector* v) const { gsl_vector_free(v); }
};
struct MatrixFree {
  void operator()(gsl_matrix* m) const { gsl_matrix_free(m); }
};

}  // namespace

std::vector<double> two_thetas_of(const std::vector<RingPoint>& points, const Geometry& g) {
  std::vector<double> x(points.size()), y(points.size());
  for (std::size_t i = 0; i < points.size(); ++i) {
    x[i] = points[i].x;
    y[i] = points[i].y;
  }
  return point_two_thetas(g, x, y);
}

GeometryFit fit_geometry(const std::vector<RingPoint>& points,
                         const std::vector<double>& ring_d_angstrom, const Geometry& start,
                         const FitFreedom& freedom, int max_iterations) {
  if (!start.wavelength_angstrom) throw Error("the fit needs a wavelength");
  Model model{&points, &ring_d_angstrom, start, Layout(freedom), {}, {}};
  const Layout& layout = model.layout;
  const std::size_t n = points.size(), p = static_cast<std::size_t>(layout.size);
  if (p == 0) throw Error("nothing to fit");
  if (n <= p) {
    throw Error("too few ring points to fit: " + std::to_string(n) + " found, at least " +
                std::to_string(p + 1) + " needed");
  }
  for (const RingPoint& point : points) {
    model.x.push_back(point.x);
    model.y.push_back(point.y);
  }

  const QuietGslErrors quiet;
  std::unique_ptr<gsl_vector, VectorFree> x0(gsl_vector_alloc(p));
  const double to_radians = 1 / kDegreesPerRadian;
  if (layout.distance >= 0) gsl_vector_set(x0.get(), layout.distance, start.distance_mm);
  if (layout.centre_x >= 0) {
    gsl_vector_set(x0.get(), layout.centre_x, start.center_x_px);
    gsl_vector_set(x0.get(), layout.centre_y, start.center_y_px);
  }
  if (layout.tilt_x >= 0) {
    const double direction = start.tilt_direction_deg * to_radians;
    gsl_vector_set(x0.get(), layout.tilt_x, start.tilt_deg * std::cos(direction));
    gsl_vector_set(x0.get(), layout.tilt_y, start.tilt_deg * std::sin(direction));
  }
  if (layout.wavelength >= 0) {
    gsl_vector_set(x0.get(), layout.wavelength, *start.wavelength_angstrom);
  }

  gsl_multifit_nlinear_parameters parameters = gsl_multifit_nlinear_default_parameters();
  parameters.trs = gsl_multifit_nlinear_trs_lm;
  parameters.scale = gsl_multifit_nlinear_scale_more;
  // A handful of values against thousands of points: the normal equations
  // are small and well scaled.
  parameters.solver = gsl_multifit_nlinear_solver_cholesky;
  // Central differences of the module's own angles: the model stays the
  // code every reduction runs.
  parameters.fdtype = GSL_MULTIFIT_NLINEAR_CTRDIFF;
  parameters.h_df = 1e-6;
  std::unique_ptr<gsl_multifit_nlinear_workspace, WorkspaceFree> work(
      gsl_multifit_nlinear_alloc(gsl_multifit_nlinear_trust, &parameters, n, p));
  if (!work) throw Error("out of memory for the fit");
  gsl_multifit_nlinear_fdf fdf{};
  fdf.f = residuals;
  fdf.df = nullptr;
  fdf.fvv = nullptr;
  fdf.n = n;
  fdf.p = p;
  fdf.params = &model;
  gsl_multifit_nlinear_init(x0.get(), &fdf, work.get());
  int why = 0;
  const int status = gsl_multifit_nlinear_driver(static_cast<std::size_t>(max_iterations), 1e-11,
                                                 1e-14, 1e-14, nullptr, nullptr, &why, work.get());
  const gsl_vector* best = gsl_multifit_nlinear_position(work.get());
  const gsl_vector* f = gsl_multifit_nlinear_residual(work.get());

  GeometryFit fit;
  fit.geometry = model.geometry_of(best);
  fit.iterations = static_cast<int>(gsl_multifit_nlinear_niter(work.get()));
  const Geometry& g = fit.geometry;
  // No progress means no step can lower the sum any more: a minimum, to
  // the precision of the angles (GSL reports a start at the minimum, where
  // the first step already makes none, as running out of iterations).
  const bool converged = status == GSL_SUCCESS || status == GSL_ENOPROG ||
                         (status == GSL_EMAXITER && why == GSL_ENOPROG);
  double sum_of_squares = 0;
  gsl_blas_ddot(f, f, &sum_of_squares);
  if (!converged || !std::isfinite(sum_of_squares)) {
    throw Error("the geometry fit did not converge in " + std::to_string(max_iterations) +
                " iterations");
  }
  if (!(g.distance_mm > 0) || !(g.tilt_deg < 45) || !std::isfinite(g.center_x_px) ||
      !std::isfinite(g.center_y_px) || !(*g.wavelength_angstrom > 0)) {
    throw Error("the geometry fit ended on no usable geometry (" + describe(g) + ")");
  }
  fit.residuals_deg.assign(f->data, f->data + n);
  fit.rms_deg = std::sqrt(sum_of_squares / n);

  // Standard uncertainties: the covariance (J^T J)^-1 scaled by the
  // residuals' variance.
  std::unique_ptr<gsl_matrix, MatrixFree> covariance(gsl_matrix_alloc(p, p));
  gsl_multifit_nlinear_covar(gsl_multifit_nlinear_jac(work.get()), 0.0, covariance.get());
  const double variance = sum_of_squares / (n - p);
  auto sigma = [&](int k) {
    return k < 0 ? 0 : std::sqrt(variance * gsl_matrix_get(covariance.get(), k, k));
  };
  GeometryUncertainty& u = fit.uncertainty;
  u.distance_mm = sigma(layout.distance);
  u.center_x_px = sigma(layout.centre_x);
  u.center_y_px = sigma(layout.centre_y);
  u.wavelength_angstrom = sigma(layout.wavelength);
  if (layout.tilt_x >= 0) {
    const int a = layout.tilt_x, b = layout.tilt_y;
    const double ta = gsl_vector_get(best, a), tb = gsl_vector_get(best, b);
    const double caa = gsl_matrix_get(covariance.get(), a, a);
    const double cbb = gsl_matrix_get(covariance.get(), b, b);
    const double cab = gsl_matrix_get(covariance.get(), a, b);
    const double tilt = g.tilt_deg;
    if (tilt > 0) {
      // tilt = |t| and direction = atan2(tb, ta), to first order.
      const double da = ta / tilt, db = tb / tilt;
      u.tilt_deg = std::sqrt(variance * (da * da * caa + 2 * da * db * cab + db * db * cbb));
      const double ea = -tb / (tilt * tilt), eb = ta / (tilt * tilt);
      u.tilt_direction_deg =
          kDegreesPerRadian *
          std::sqrt(variance * (ea * ea * caa + 2 * ea * eb * cab + eb * eb * cbb));
    } else {
      u.tilt_deg = std::sqrt(variance * (caa + cbb) / 2);
      u.tilt_direction_deg = 180;
    }
  }
  return fit;
}

}  // namespace vokip
