// The one error convention of the engine and its command lines: whatever
// stops a file's reduction (or a whole run) is thrown as an Error whose
// message is one line saying what is wrong, without the file's name; the
// caller that knows the name puts it in front. An error that a setting of
// the reduction would mend names that setting, so that the command line can
// add its option and Python its keyword.
#pragma once

#include <stdexcept>
#include <string>

namespace vokip {

// The settings a user gives a reduction or a calibration.
enum class Setting {
  none,
  geometry,  // the whole geometry: a .poni, or distance, beam centre and pixel size
  distance,
  center,
  pixel_size,
  tilt,
  wavelength,
  bins,
  bin_width,
  range,
  unit,
  error_model,
  limits,  // low and high
  azimuth,
  cake,
  cake_bins,
  split,
  polarization,
  plate_absorption,
  shape,
  calibrant,
};

class Error : public std::runtime_error {
 public:
  // data: an input is not what it must be (a damaged file, a bad setting, a
  // geometry that gives no angles); io: the system refused a read or a write.
  enum class Kind { data, io };

  explicit Error(const std::string& message, Kind kind = Kind::data,
                 Setting setting = Setting::none)
      : std::runtime_error(message), kind_(kind), setting_(setting) {}
  Error(const std::string& message, Setting setting) : Error(message, Kind::data, setting) {}
  Kind kind() const { return kind_; }
  // The setting that would mend it, if one would.
  Setting setting() const { return setting_; }

 private:
  Kind kind_;
  Setting setting_;
};

}  // namespace vokip
