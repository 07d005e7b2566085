#include "engine/profile/profile.h"

namespace vokip {

const char* split_name(Split s) {
  return s == Split::bbox ? "bbox" : s == Split::full ? "full" : "none";
}

const char* statistic_name(Statistic s) {
  return s == Statistic::median ? "median" : "mean";
}

const char* error_model_name(ErrorModel e) {
  return e == ErrorModel::poisson ? "poisson" : e == ErrorModel::azimuthal ? "azimuthal" : "none";
}

}  // namespace vokip
