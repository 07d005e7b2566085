#include "cli/calibrate/options.h"

#include <CLI/CLI.hpp>

#include "engine/base/text.h"
#include "engine/calibrate/calibrants.h"

namespace vokip {

namespace {

constexpr char kExamples[] =
    R"(The beam centre is looked for within 128 pixels of the given one (the
header's, the .poni's or --center's) or, when there is none, anywhere in the
middle half of the image, and the distance, within 20 % of the given one,
where the calibrant's innermost rings meet the image's; the rings are then
found one after another from the innermost, and distance, beam centre, tilt
and tilt direction (and with --refine-wavelength the wavelength) fitted to
them by least squares. The result is printed with standard uncertainties and
as the options that give vokip-reduce this geometry. Pixels of value 0 (no
data) and pixels flagged by --mask are never used.

A fit is not credible when its points lie more than 1 pixel (rms) from
their rings on the plate, when it found no more than half of the
calibrant's rings on the plate up to the outermost it used, or when the
image has a strong ring on none of the calibrant's: as from the wrong
calibrant, or a start too far off. Then one line says so with these
figures, the exit status is 1 and no .poni is written (the --png picture
is, to show why); --force writes the .poni anyway, with a warning line.

A calibrant file lists d-spacings in angstrom, one per line; '#' starts a
comment and anything after a line's first number is ignored (pyFAI's .D
files read as they are).

Exit status: 0 calibrated; 1 the calibration could not be done (a file that
cannot be read, no ring found, too few points, no convergence, a fit that is
not credible); 2 bad command line.

Examples:
  vokip-calibrate lab6.mar3450 --calibrant LaB6 --png lab6.png --write-poni lab6.poni
  vokip-reduce sample.mar3450 --poni lab6.poni
      calibrate, then reduce with the fitted geometry
  vokip-calibrate ceo2.mar2300 --calibrant CeO2 --wavelength 0.7093 --distance 250 \
      --mask beamstop.tif --refine-wavelength
  vokip-calibrate agbh.mar1200 --calibrant-file agbh.D --center 600,600)";

struct CommandLine {
  CLI::App app{"Fits an image plate's geometry to the rings of a calibrant powder.",
               "vokip-calibrate"};

  explicit CommandLine(CalibrateOptions* o) {
    app.set_help_flag("-h,--help", "this text");
    app.add_flag("--version", "the program's version");
    app.add_option("IMAGE", o->image, "a MAR345 image of a calibrant's rings")->type_name("");
    app.footer(kExamples);

    const std::string calibrant = "Calibrant (one of the two)";
    std::string names;
    for (const std::string& n : builtin_calibrant_names()) names += (names.empty() ? "" : ", ") + n;
    app.add_option("--calibrant", o->calibrant, "a built-in calibrant: " + names)
        ->type_name("NAME")
        ->group(calibrant);
    app.add_option("--calibrant-file", o->calibrant_file, "a file of d-spacings in angstrom")
        ->type_name("FILE")
        ->group(calibrant);

    const std::string start =
        "Starting geometry (default: the image's header, or --poni; each option overrides it)";
    app.add_option("--poni", o->poni_path,
                   "start from a pyFAI .poni file (versions 1, 2 and 2.1), as pyFAI-calib2 and "
                   "Dioptas write them")
        ->type_name("FILE")
        ->group(start);
    add_geometry_options(app, &o->start, start);
    add_number(app, "--wavelength", "a wavelength in angstrom", "X-ray wavelength in angstrom",
               &o->start.wavelength_angstrom)
        ->type_name("A")
        ->group(start);

    const std::string fit = "Fit";
    app.add_option("--mask", o->mask_path,
                   "PGM, FIT2D .msk, TIFF or EDF mask of the image's size (as pyFAI-calib2 and "
                   "Dioptas write them); pixels that are not 0 in it are never used")
        ->type_name("FILE")
        ->group(fit);
    app.add_flag("--refine-wavelength", o->refine_wavelength, "fit the wavelength too")->group(fit);
    add_parsed(app, "--max-iterations", "a whole number from 1 to 100000",
               "the most iterations of each least-squares fit (default 200)",
               [o](const std::string& v) {
                 const std::optional<long> n = whole_number_in(v);
                 if (!n || *n < 1 || *n > 100000) return false;
                 o->max_iterations = *n;
                 return true;
               })
        ->type_name("N")
        ->group(fit);

    const std::string output = "Output";
    app.add_option("--write-poni", o->write_poni_path,
                   "write the fitted geometry as a .poni for pyFAI, Dioptas and vokip-reduce "
                   "--poni")
        ->type_name("FILE")
        ->group(output);
    app.add_flag("--force", o->force,
                 "write the .poni even when the fit is not credible (exit status 0, a warning "
                 "line)")
        ->group(output);
    add_parsed(app, "--poni-version", "2 or 2.1",
               "the version --write-poni writes (default 2, which pyFAI reads from 0.21 on and "
               "which says all that 2.1 would)",
               [o](const std::string& v) {
                 o->poni_version = v;
                 return v == "2" || v == "2.1";
               })
        ->type_name("VERSION")
        ->group(output);
    app.add_option("--png", o->png_path,
                   "write a picture of the image (log-scaled) with the fitted rings (red; the "
                   "calibrant's other rings orange) and the points used (green)")
        ->type_name("FILE")
        ->group(output);
  }
};

}  // namespace

ParsedCalibrateOptions parse_calibrate_options(const std::vector<std::string>& args) {
  ParsedCalibrateOptions parsed;
  CommandLine line(&parsed.options);
  parsed.outcome = parse_command_line(line.app, args, &parsed.error);
  if (parsed.outcome != OptionsOutcome::run) return parsed;
  auto fail = [&](const std::string& message) {
    parsed.outcome = OptionsOutcome::error;
    parsed.error = message;
    return parsed;
  };
  const CalibrateOptions& o = parsed.options;
  if (o.image.empty()) return fail("no image given (try --help)");
  if (o.calibrant.empty() == o.calibrant_file.empty()) {
    return fail("give the calibrant: --calibrant NAME or --calibrant-file FILE (one of them)");
  }
  return parsed;
}

std::string calibrate_help_text() {
  CalibrateOptions unused;
  CommandLine line(&unused);
  return line.app.help();
}

}  // namespace vokip
