// The module's procedures as a host program calls them: by name, through the
// stand-in host, on host variables made for the call.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "module/host_api.h"
#include "reduce/geometry.h"

// Where the module's vokip.dlm and vokip.so are looked for, in order: the
// given folder; else $VOKIP_MODULE_DIR; else the build's module folder when it
// holds the module; else ../lib/vokip beside the running program.
std::string find_module_dir(const std::string& given);

// Starts the host afresh (releasing every variable of an earlier image) and
// loads the module. False and a message when the module cannot be loaded.
bool start_module(const std::string& dir, bool echo_messages, std::string* error);

// UNPCK: the packed stream into a host unsigned 16-bit array of width x
// height. Null and a message when the stream ends before the last pixel.
IDL_VPTR call_unpck(const std::uint8_t* stream, std::size_t length, int width, int height,
                    std::string* error);

// DISTORTIMAGEPLATE: polar angles in degrees of every pixel, as a host double
// array of width x height. Pixel coordinates go in micrometres from the beam
// centre and the distance in mm: the module takes the distance in units a
// thousand times those of the coordinates.
IDL_VPTR call_distortimageplate(const Geometry& geometry, int width, int height,
                                std::string* error);

// AZIMUTHIMAGEPLATE: azimuth in degrees of every pixel, from +x towards +y.
IDL_VPTR call_azimuthimageplate(const Geometry& geometry, int width, int height,
                                std::string* error);

// INTEGRATE or INTEGRATE_MEDIAN on host double arrays of keys and values.
struct BinStatistics {
  std::vector<double> centre_value;  // mean or median
  std::vector<double> variance;      // sample variance, or variance about the median
  std::vector<double> spread;        // dispersion, or mean absolute deviation
};
bool call_integrate(bool median, IDL_VPTR keys, IDL_VPTR values, const std::vector<double>& centres,
                    BinStatistics* out, std::string* error);

// The last line the host printed, for error messages.
std::string last_host_line();
