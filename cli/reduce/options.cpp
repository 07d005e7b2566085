#include "cli/reduce/options.h"

#include <CLI/CLI.hpp>

#include "cli/common/option_parsing.h"
#include "engine/base/error.h"
#include "engine/base/text.h"
#include "vokip_version.h"

namespace vokip {

namespace {

constexpr char kExamples[] =
    R"(Each IMAGE is decoded, every pixel's polar angle 2-theta computed for the
plate's geometry, the pixels sorted by angle, corrected and binned; the
profile goes to IMAGE's name with .xy (two or three columns, commented
header) beside the image or in --output-dir. Pixels of value 0 (no data) and
pixels flagged by --mask are left out. The solid-angle correction is on
unless --no-solid-angle is given, as in pyFAI and Dioptas. The pixels' order by angle is worked out once per geometry and
reused for every following image that shares it. Quoted patterns such as
'scans/*.mar2300' are expanded too. A file that cannot be reduced gets one
error line; the others are still reduced.

Inside a Slurm job array (SLURM_ARRAY_TASK_ID set), each task reduces its own
share of the sorted file list unless --shard is given.

Exit status: 0 every file reduced (or skipped); 1 some file could not be
reduced; 2 bad command line, or a run that cannot start (a geometry given
that cannot be an experiment's, an output folder that takes no file). Ctrl-C
ends the run with a line saying how many files were done; no partial file
is left.

Examples:
  vokip-reduce samples/rings.mar1200 --svg -o out
      profile and plot of the shipped sample in out/rings.xy, out/rings.svg
  vokip-reduce 'scans/*.mar2300' --unit q_A^-1 --bin-width 0.005 --median --all
  vokip-reduce run1.mar3450 --poni LaB6.poni --polarization 0.99 --dark dark.mar3450 \
      --error-model poisson --xye --mask mask.edf
  vokip-reduce run1.mar3450 --distance 250 --center 1725.5,1719 --tilt 0.4 \
      --tilt-direction 95 --mask beamstop.pgm --range 2:35 --bins 3300
  vokip-reduce 'campaign/*.mar3450' -o profiles --shard 3/10 --skip-existing
  vokip-reduce samples/rings.mar1200 --cake 360 --png -o out
      the cake and pictures of the profile and the image, to look at
  vokip-reduce 'ramp/*.mar3450' --range 2:30 --bins 2800 --hdf5 ramp.h5 --waterfall ramp.png
      the run's profiles in one file, and the run as one picture
  vokip-reduce --join ramp.h5 'ramp.*-of-10.h5'
      the files of a run reduced in 10 shares, joined)";

// The whole command line, bound to the options it fills.
struct CommandLine {
  CLI::App app{
      "Reduces MAR345 image-plate files (.mar1200 ... .mar3450) to 1-D diffraction\n"
      "profiles.",
      "vokip-reduce"};
  bool median = false;

  explicit CommandLine(ReduceOptions* o) {
    app.set_help_flag("-h,--help", "this text");
    app.add_flag("--version", "the program's version");
    app.add_option("IMAGE", o->inputs, "MAR345 image files or quoted patterns")->type_name("");
    app.footer(kExamples);

    const std::string out = "Output";
    app.add_option("-o,--output-dir", o->output_dir,
                   "write profiles into DIR (default: beside each image)")
        ->type_name("DIR")
        ->group(out);
    app.add_flag("--chi", o->write_chi, "also write a FIT2D-style .chi file")->group(out);
    app.add_flag("--csv", o->write_csv, "also write a .csv with every statistic of every bin")
        ->group(out);
    app.add_flag("--svg", o->write_svg, "also write an .svg plot of the profile")->group(out);
    app.add_flag("--png", o->write_png,
                 "also write PNG pictures: the profile's plot (.png) and the image (.image.png), "
                 "log-scaled, pixels left out tinted, the beam centre and the strongest peaks' "
                 "circles drawn")
        ->group(out);
    add_whole(app, "--cake",
              "a whole number of azimuth bins, 1 to " + std::to_string(kMostAzimuthBins),
              "also write the cake: the profile's radial bins (or --cake-bins) in N azimuth bins "
              "over 0 to 360 degrees (or the --azimuth sector), as a 32-bit float TIFF "
              "(.cake.tif, rows = azimuth bins), its axes (.cake.txt) and a picture (.cake.png)",
              [o](long n) { o->request.azimuth_bins = n; })
        ->type_name("N")
        ->group(out);
    add_whole(app, "--cake-bins",
              "a whole number of radial bins, 1 to " + std::to_string(kMostBins),
              "the cake's radial bins over the profile's range (default: the profile's bins); a "
              "cake is usually coarser",
              [o](long n) { o->request.cake_bins = n; })
        ->type_name("M")
        ->group(out);
    app.add_flag("--xye", o->write_xye,
                 "also write a three-column .xye (needs --error-model), as GSAS-II and TOPAS "
                 "read it")
        ->group(out);
    app.add_option("--hdf5", o->hdf5_path,
                   "also write the run's profiles into one NeXus/HDF5 file: a row per image in "
                   "the order reduced, a column per bin, the errors, counts, cake, file names, "
                   "header values and failures beside them. Needs the bins alike for every "
                   "image: --range LOW:HIGH with --bins or --bin-width. A share (--shard K/N, or "
                   "a Slurm array's task) writes RUN.K-of-N.h5, for --join")
        ->type_name("RUN.h5")
        ->group(out);
    app.add_option("--waterfall", o->waterfall_path,
                   "also draw the run as one picture: image index down, the radial axis across, "
                   "log-scaled (bins as for --hdf5; a share draws RUN.K-of-N.png)")
        ->type_name("RUN.png")
        ->group(out);
    app.add_option("--join", o->join_path,
                   "reduce nothing: join the run files given in place of images (the N shares "
                   "RUN.K-of-N.h5 of one run, in any order) into one, their rows in the file "
                   "list's order; with --waterfall, draw the joined run")
        ->type_name("RUN.h5")
        ->group(out);
    app.add_flag_callback(
           "--all", [o] { o->write_chi = o->write_csv = o->write_svg = true; },
           "all of .chi, .csv and .svg")
        ->group(out);

    const std::string geometry =
        "Geometry (default: the image's header, or --poni; each option overrides it)";
    app.add_option("--poni", o->request.poni_file,
                   "geometry from a pyFAI .poni file (versions 1, 2 and 2.1), as pyFAI-calib2 "
                   "and Dioptas write them")
        ->type_name("FILE")
        ->group(geometry);
    app.add_option("--write-poni", o->write_poni_path,
                   "write the geometry in use (of the first image) as a .poni")
        ->type_name("FILE")
        ->group(geometry);
    add_parsed(app, "--poni-version", "2 or 2.1",
               "the version --write-poni writes (default 2, which pyFAI reads from 0.21 on and "
               "which says all that 2.1 would)",
               [o](const std::string& v) {
                 o->poni_version = v;
                 return v == "2" || v == "2.1";
               })
        ->type_name("VERSION")
        ->group(geometry);
    add_geometry_options(app, &o->request.geometry, geometry);
    add_number(app, "--wavelength", "a wavelength in angstrom",
               "X-ray wavelength in angstrom (needed for --unit q)",
               &o->request.geometry.wavelength_angstrom)
        ->type_name("A")
        ->group(geometry);

    const std::string binning = "Binning";
    add_parsed(app, "--unit", unit_names(),
               "the profile's axis: 2-theta in degrees (2th_deg, default; also 2theta), q = 4 pi "
               "sin(theta) / wavelength in 1/nm or 1/A (q_nm^-1, q_A^-1; also q), the distance "
               "from the beam in mm (r_mm), or the spacing d = 2 pi / q in A (d_A, bins even in "
               "q); bins are even in the unit",
               [o](const std::string& v) {
                 o->request.unit = unit_called(v);
                 return true;
               })
        ->type_name("UNIT")
        ->group(binning);
    add_whole(app, "--bins", "a whole number of bins, 1 to " + std::to_string(kMostBins),
              "N bins over the range (default: one per pixel of radius from the beam centre "
              "to the farthest corner)",
              [o](long n) { o->request.bins.count = n; })
        ->type_name("N")
        ->group(binning);
    add_number(app, "--bin-width", "a positive width",
               "bins of width W in the unit (instead of --bins)", &o->request.bins.width)
        ->type_name("W")
        ->group(binning);
    add_parsed(app, "--range", "LOW:HIGH (either may be left out)",
               "bin only this range (default: all pixels), e.g. --range 5:",
               [o](const std::string& v) {
                 return parse_pair(v, ':', true, &o->request.bins.low, &o->request.bins.high);
               })
        ->group(binning);
    app.add_flag("--median", median,
                 "per-bin median of the corrected values (weighted by each pixel's share) instead "
                 "of the mean, sum(raw - dark) / sum(flat x solid angle x polarization)")
        ->group(binning);
    add_parsed(app, "--split", "none, bbox or full",
               "how a pixel is binned: spread evenly over the interval its corners span (bbox, "
               "the default, as pyFAI and Dioptas), by the area of its quadrilateral in each bin "
               "(full: exact at the finest bins, slower), or whole in the bin of its centre "
               "(none: the module's INTEGRATE, fastest; fine when a bin spans several pixels)",
               [o](const std::string& v) {
                 o->request.split = split_called(v);
                 return true;
               })
        ->type_name("SPLIT")
        ->group(binning);
    app.add_option("--mask", o->request.mask_file,
                   "mask of the image's size, PGM (P2, P5), FIT2D .msk, TIFF or EDF (as "
                   "pyFAI-calib2 and Dioptas write them); pixels that are not 0 in it are left out")
        ->type_name("FILE")
        ->group(binning);
    add_number(app, "--low", "a value", "leave out pixels whose raw value lies below V (dead)",
               &o->request.run.low)
        ->type_name("V")
        ->group(binning);
    add_number(app, "--high", "a value",
               "leave out pixels whose raw value lies above V (saturated)", &o->request.run.high)
        ->type_name("V")
        ->group(binning);
    add_parsed(app, "--azimuth", "FROM:TO in degrees, FROM below TO",
               "keep only pixels with azimuth FROM <= a < TO degrees, counted from +x towards "
               "+y (taken modulo 360)",
               [o](const std::string& v) {
                 std::optional<double> from, to;
                 if (!parse_pair(v, ':', false, &from, &to)) return false;
                 o->request.sector = AzimuthSector{*from, *to};
                 return true;
               })
        ->group(binning);

    const std::string corrections =
        "Corrections: signal raw - dark, normalisation flat x solid angle x polarization x "
        "plate absorption";
    app.add_flag_callback(
           "--no-solid-angle", [o] { o->request.corrections.solid_angle = false; },
           "no solid-angle correction (default: divide by cos^3 of the ray's angle to the "
           "plate's normal, as pyFAI and Dioptas do)")
        ->group(corrections);
    add_number(app, "--polarization", "P from -1 to 1",
               "divide by the polarization factor (1 + cos^2 2th - P cos 2chi sin^2 2th) / 2, "
               "pyFAI's P (0.99: synchrotron, horizontal)",
               &o->request.corrections.polarization)
        ->type_name("P")
        ->group(corrections);
    add_number(app, "--plate-absorption", "mu t, a positive number",
               "divide by the image plate's efficiency at the ray's incidence a to it, "
               "(1 - exp(-MU_T / cos a)) / (1 - exp(-MU_T)): MU_T is the phosphor's linear "
               "attenuation coefficient at the X-ray energy times its thickness (the storage "
               "phosphor's mass attenuation from NIST XCOM, times its density and the plate's "
               "coating thickness; about 0.1 to 2 for MAR345 plates, smaller at higher energy). "
               "Off by default",
               &o->request.corrections.plate_absorption)
        ->type_name("MU_T")
        ->group(corrections);
    app.add_option("--dark", o->request.dark_file,
                   "subtract this image (MAR345, TIFF or EDF of the image's size)")
        ->type_name("FILE")
        ->group(corrections);
    app.add_option("--flat", o->request.flat_file, "divide by this image (MAR345, TIFF or EDF)")
        ->type_name("FILE")
        ->group(corrections);
    add_parsed(app, "--error-model", "poisson or azimuthal",
               "give each bin a standard error: from counting statistics (poisson) or from the "
               "spread of the bin's values (azimuthal); adds a sigma column",
               [o](const std::string& v) {
                 o->request.run.error_model = error_model_called(v);
                 return true;
               })
        ->type_name("MODEL")
        ->group(corrections);

    const std::string running = "Running";
    add_parsed(app, "--shard", "K/N with 1 <= K <= N",
               "reduce only share K of N of the sorted file list (default inside a Slurm job "
               "array: the task's share)",
               [o](const std::string& v) {
                 o->shard = parse_shard(v);
                 return o->shard.has_value();
               })
        ->group(running);
    app.add_flag("--skip-existing", o->skip_existing,
                 "skip an image whose outputs exist, are newer than it and were made with the "
                 "same settings: program version, outputs, geometry given (a .poni's values), "
                 "every option, and the mask, dark and flat's contents. The settings line of the "
                 ".xy's header, which is always written and written last, stands for all of the "
                 "image's outputs (the .chi, .csv, .xye and pictures have no room for it)")
        ->group(running);
    app.add_flag("--times", o->show_times, "print each file's time per stage on stderr")
        ->group(running);
    app.add_flag("-q,--quiet", o->quiet, "no progress line and no summary")->group(running);
  }
};

}  // namespace

std::optional<Shard> parse_shard(const std::string& text) {
  const std::size_t slash = text.find('/');
  if (slash == std::string::npos) return std::nullopt;
  const std::optional<long> k = whole_number_in(text.substr(0, slash));
  const std::optional<long> n = whole_number_in(text.substr(slash + 1));
  if (!k || !n || *n < 1 || *k < 1 || *k > *n) return std::nullopt;
  return Shard{*k - 1, *n};
}

std::optional<Shard> slurm_array_shard(const char* (*get)(const char*)) {
  const char* id_text = get("SLURM_ARRAY_TASK_ID");
  if (!id_text || !*id_text) return std::nullopt;
  auto read = [&](const char* name, std::optional<long>* into) {
    const char* text = get(name);
    if (!text || !*text) return;
    *into = whole_number_in(text);
    if (!*into) throw Error(std::string(name) + " is not a whole number: " + text);
  };
  std::optional<long> id, count, min, max, step;
  read("SLURM_ARRAY_TASK_ID", &id);
  read("SLURM_ARRAY_TASK_COUNT", &count);
  read("SLURM_ARRAY_TASK_MIN", &min);
  read("SLURM_ARRAY_TASK_MAX", &max);
  read("SLURM_ARRAY_TASK_STEP", &step);
  const long first = min.value_or(count ? 0 : -1);
  const long stride = step.value_or(1);
  if (first < 0 || stride < 1 || (!count && !max)) {
    throw Error("a Slurm array task needs SLURM_ARRAY_TASK_COUNT or _MIN and _MAX");
  }
  const long shares = count ? *count : (*max - first) / stride + 1;
  const long offset = *id - first;
  if (shares < 1 || offset < 0 || offset % stride != 0 || offset / stride >= shares) {
    throw Error("Slurm array task " + std::to_string(*id) + " is not one of " +
                std::to_string(shares) + " tasks");
  }
  return Shard{offset / stride, shares};
}

ParsedOptions parse_options(const std::vector<std::string>& args) {
  ParsedOptions parsed;
  CommandLine line(&parsed.options);
  parsed.outcome = parse_command_line(line.app, args, &parsed.error);
  if (parsed.outcome != OptionsOutcome::run) return parsed;
  auto fail = [&](const std::string& message) {
    parsed.outcome = OptionsOutcome::error;
    parsed.error = message;
    return parsed;
  };
  ReduceOptions& o = parsed.options;
  if (line.median) o.request.run.statistic = Statistic::median;
  o.request.image_picture = o.write_png;
  if (o.write_xye && o.request.run.error_model == ErrorModel::none) {
    return fail("--xye needs --error-model poisson or azimuthal");
  }
  const BinRequest& bins = o.request.bins;
  if (o.join_path.empty() && (!o.hdf5_path.empty() || !o.waterfall_path.empty()) &&
      !(bins.low && bins.high && (bins.count || bins.width))) {
    return fail(std::string(o.hdf5_path.empty() ? "--waterfall" : "--hdf5") +
                " needs the same bins for every image: give --range LOW:HIGH and --bins N or "
                "--bin-width W");
  }
  if (!o.join_path.empty() && (!o.hdf5_path.empty() || o.shard)) {
    return fail("--join writes one run file from the shares' files: no --hdf5 or --shard with it");
  }
  try {
    check_request(o.request);
  } catch (const Error& e) {
    return fail(with_option(e));
  }
  if (o.inputs.empty()) return fail("no image files given (try --help)");
  return parsed;
}

std::string help_text() {
  ReduceOptions unused;
  CommandLine line(&unused);
  return line.app.help();
}

}  // namespace vokip
