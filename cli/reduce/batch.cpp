#include "cli/reduce/batch.h"

#include <glob.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <system_error>

#include "cli/reduce/run_outputs.h"
#include "engine/base/error.h"
#include "engine/base/text.h"
#include "engine/formats/cake_files.h"
#include "engine/formats/files.h"
#include "engine/formats/poni.h"
#include "engine/formats/profile_writers.h"
#include "engine/pictures/pictures.h"
#include "engine/run/reducer.h"
#include "vokip_version.h"

namespace vokip {

namespace {

namespace fs = std::filesystem;

constexpr char kName[] = "vokip-reduce";

std::string base_name(const std::string& path) {
  return fs::path(path).filename().string();
}

class Progress {
 public:
  Progress(std::FILE* err, bool on, std::size_t files) : err_(err), on_(on), files_(files) {}
  void show(std::size_t index, const std::string& name) {
    if (!on_) return;
    std::fprintf(err_, "\r\033[K[%zu/%zu] %s", index + 1, files_, name.c_str());
    std::fflush(err_);
  }
  void clear() {
    if (!on_) return;
    std::fprintf(err_, "\r\033[K");
    std::fflush(err_);
  }

 private:
  std::FILE* err_;
  bool on_;
  std::size_t files_;
};

using Bytes = std::vector<std::uint8_t>;

Bytes bytes_of(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

// An output file: its extension, whether the options ask for it, and its
// contents for a reduction.
struct Output {
  const char* extension;
  bool (*wanted)(const ReduceOptions&);
  Bytes (*contents)(const FileReduction&, const ProfileOrigin&);
};

bool has_cake(const ReduceOptions& o) {
  return o.request.azimuth_bins.has_value();
}

// Every output, in the order they are written.
const Output kOutputs[] = {
    {".xy", [](const ReduceOptions&) { return true; },
     [](const FileReduction& r, const ProfileOrigin& o) {
       return bytes_of(format_xy(r.profile, r.geometry, o));
     }},
    {".chi", [](const ReduceOptions& o) { return o.write_chi; },
     [](const FileReduction& r, const ProfileOrigin& o) {
       return bytes_of(format_chi(r.profile, r.geometry, o));
     }},
    {".csv", [](const ReduceOptions& o) { return o.write_csv; },
     [](const FileReduction& r, const ProfileOrigin&) {
       return bytes_of(format_csv(r.profile, r.geometry));
     }},
    {".svg", [](const ReduceOptions& o) { return o.write_svg; },
     [](const FileReduction& r, const ProfileOrigin& o) {
       return bytes_of(profile_svg(r.profile, r.geometry, o));
     }},
    {".xye", [](const ReduceOptions& o) { return o.write_xye; },
     [](const FileReduction& r, const ProfileOrigin&) { return bytes_of(format_xye(r.profile)); }},
    {".png", [](const ReduceOptions& o) { return o.write_png; },
     [](const FileReduction& r, const ProfileOrigin& o) {
       return profile_png(r.profile, o.input_name);
     }},
    {".image.png", [](const ReduceOptions& o) { return o.write_png; },
     [](const FileReduction& r, const ProfileOrigin&) { return r.image_picture; }},
    {".cake.tif", has_cake,
     [](const FileReduction& r, const ProfileOrigin& o) {
       return encode_cake_tiff(r.profile, o.input_name);
     }},
    {".cake.txt", has_cake,
     [](const FileReduction& r, const ProfileOrigin& o) {
       return bytes_of(format_cake_axes(r.profile, o.input_name));
     }},
    {".cake.png", has_cake,
     [](const FileReduction& r, const ProfileOrigin& o) {
       return cake_png(r.profile, o.input_name + ": cake");
     }},
};

// The outputs the options ask for.
std::vector<const Output*> outputs_wanted(const ReduceOptions& o) {
  std::vector<const Output*> wanted;
  for (const Output& output : kOutputs) {
    if (output.wanted(o)) wanted.push_back(&output);
  }
  return wanted;
}

// The corrections and limits applied, for the outputs' headers.
std::string describe_corrections(const ReductionRequest& r) {
  const Corrections& c = r.corrections;
  std::vector<std::string> parts;
  if (!r.dark_file.empty()) parts.push_back("dark " + base_name(r.dark_file) + " subtracted");
  if (!r.flat_file.empty()) parts.push_back("flat " + base_name(r.flat_file));
  if (c.solid_angle) parts.push_back("solid angle (cos^3)");
  if (c.polarization) parts.push_back(printf_string("polarization %g", *c.polarization));
  if (c.plate_absorption) {
    parts.push_back(printf_string("plate absorption mu t %g", *c.plate_absorption));
  }
  if (r.run.low || r.run.high) {
    parts.push_back(printf_string("raw values kept from %g to %g", r.run.low.value_or(-INFINITY),
                                  r.run.high.value_or(INFINITY)));
  }
  std::string joined;
  for (const std::string& part : parts) joined += (joined.empty() ? "" : ", ") + part;
  return joined;
}

// What made a run's outputs: the program, the outputs asked for and every
// setting of the request. The .xy's header holds it for all of an image's
// outputs: the .xy is always written, and written last.
std::string run_settings(const ReduceOptions& o, const ReductionRequest& request) {
  std::string s = std::string(kName) + " " + kVokipVersion + "; outputs";
  for (const Output* output : outputs_wanted(o)) s += std::string(" ") + output->extension;
  return s + "; " + settings_line(request);
}

// The settings line of an .xy's header, or "" when it has none.
std::string settings_of(const std::string& xy_path) {
  std::ifstream in(xy_path);
  for (std::string line; std::getline(in, line) && !line.empty() && line[0] == '#';) {
    if (line.rfind(kSettingsLine, 0) == 0) return line.substr(std::strlen(kSettingsLine));
  }
  return "";
}

// Every output exists and was written after the input last changed, by a
// run of the same settings.
bool outputs_are_current(const ReduceOptions& o, const std::string& input,
                         const std::string& settings) {
  std::error_code error;
  const fs::file_time_type changed = fs::last_write_time(input, error);
  if (error) return false;
  for (const Output* output : outputs_wanted(o)) {
    const fs::file_time_type written =
        fs::last_write_time(output_path(input, o.output_dir, output->extension), error);
    if (error || !(written > changed)) return false;
  }
  return settings_of(output_path(input, o.output_dir, ".xy")) == settings;
}

// The output files of one reduction, written only once all are formatted;
// the .xy, whose header vouches for the others, last. counted: what to do
// once the .xy is in place, before a termination signal is taken.
std::vector<std::string> write_outputs(const ReduceOptions& o, const FileReduction& r,
                                       const std::string& settings,
                                       const std::function<void()>& counted) {
  const ProfileOrigin origin{base_name(r.path), std::string(kName) + " " + kVokipVersion,
                             describe_corrections(o.request), r.geometry_sources, settings};
  std::vector<std::string> paths;
  std::vector<Bytes> contents;
  for (const Output* output : outputs_wanted(o)) {
    paths.push_back(output_path(r.path, o.output_dir, output->extension));
    contents.push_back(output->contents(r, origin));
  }
  for (std::size_t k = 1; k < paths.size(); ++k) write_file_atomically(paths[k], contents[k]);
  const TerminationDeferred whole;
  write_file_atomically(paths[0], contents[0]);
  counted();
  return paths;
}

// The folders the run writes into.
std::vector<std::string> output_folders(const ReduceOptions& o,
                                        const std::vector<std::string>& files) {
  std::vector<std::string> folders;
  for (const std::string* path : {&o.write_poni_path, &o.hdf5_path, &o.waterfall_path}) {
    if (!path->empty()) folders.push_back(fs::path(*path).parent_path());
  }
  if (!o.output_dir.empty()) {
    folders.push_back(o.output_dir);
  } else {
    // A folder that is not there holds no input either: that file fails alone.
    for (const std::string& file : files) {
      const fs::path folder = fs::path(file).parent_path();
      std::error_code error;
      if (folder.empty() || fs::is_directory(folder, error)) folders.push_back(folder);
    }
  }
  std::sort(folders.begin(), folders.end());
  folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
  return folders;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

std::vector<std::string> expand_inputs(const std::vector<std::string>& inputs,
                                       std::vector<std::string>* unmatched) {
  std::vector<std::string> files;
  for (const std::string& input : inputs) {
    std::error_code error;
    if (fs::exists(input, error) || input.find_first_of("*?[") == std::string::npos) {
      files.push_back(input);
      continue;
    }
    glob_t matches{};
    if (::glob(input.c_str(), 0, nullptr, &matches) == 0) {
      for (std::size_t k = 0; k < matches.gl_pathc; ++k) files.emplace_back(matches.gl_pathv[k]);
    } else {
      unmatched->push_back(input);
    }
    ::globfree(&matches);
  }
  return files;
}

std::vector<std::string> shard_of(std::vector<std::string> files, const Shard& shard) {
  std::sort(files.begin(), files.end());
  files.erase(std::unique(files.begin(), files.end()), files.end());
  const auto n = static_cast<long>(files.size());
  const long begin = n * shard.index / shard.count;
  const long end = n * (shard.index + 1) / shard.count;
  return std::vector<std::string>(files.begin() + begin, files.begin() + end);
}

std::string output_path(const std::string& input, const std::string& output_dir,
                        const std::string& extension) {
  fs::path name = fs::path(input).filename();
  if (name.has_extension() && name.stem() != "") name.replace_extension();
  const fs::path folder = output_dir.empty() ? fs::path(input).parent_path() : fs::path(output_dir);
  return (folder / name).string() + extension;
}

int run_batch(const ReduceOptions& options, std::FILE* out, std::FILE* err, bool show_progress) {
  const auto start = std::chrono::steady_clock::now();
  const ReduceOptions& o = options;
  if (!o.join_path.empty()) return run_join(o, out, err);
  std::vector<std::string> unmatched;
  std::vector<std::string> files = expand_inputs(o.inputs, &unmatched);
  std::unique_ptr<FileReducer> reducer;
  std::optional<Shard> shard = o.shard;
  try {
    if (!shard)
      shard = slurm_array_shard([](const char* name) -> const char* { return std::getenv(name); });
    if (shard) {
      files = shard_of(std::move(files), *shard);
      unmatched.clear();  // a pattern that matched nothing is every share's, and no file
    }
    if (!o.output_dir.empty()) {
      std::error_code error;
      fs::create_directories(o.output_dir, error);
      if (!fs::is_directory(o.output_dir)) {
        throw Error("cannot create the folder " + o.output_dir +
                    (error ? ": " + error.message() : std::string()));
      }
    }
    reducer = std::make_unique<FileReducer>(o.request);
    // Before any work: a folder that takes no file would fail every image.
    for (const std::string& folder : output_folders(o, files)) check_folder_writable(folder);
  } catch (const Error& e) {
    std::fprintf(err, "%s: %s\n", kName, with_option(e).c_str());
    return kExitUsage;
  }

  std::size_t failed = 0, skipped = 0, reduced = 0;
  report_on_termination(kName, static_cast<long>(files.size() + unmatched.size()),
                        show_progress && !o.quiet);
  auto count = [&](std::size_t* which) {
    ++*which;
    set_termination_counts(static_cast<long>(reduced), static_cast<long>(skipped),
                           static_cast<long>(failed));
  };
  for (const std::string& pattern : unmatched) {
    std::fprintf(err, "%s: %s: no such file\n", kName, pattern.c_str());
    count(&failed);
  }
  // Temporaries a run killed without warning left of the outputs this one
  // writes go first, whether or not it writes them again.
  if (!o.write_poni_path.empty()) std::remove(temporary_name(o.write_poni_path).c_str());
  for (const std::string* path : {&o.hdf5_path, &o.waterfall_path}) {
    if (!path->empty()) std::remove(temporary_name(share_path(*path, shard)).c_str());
  }
  for (const std::string& file : files) {
    for (const Output* output : outputs_wanted(o)) {
      std::remove(temporary_name(output_path(file, o.output_dir, output->extension)).c_str());
    }
  }
  const std::string settings = run_settings(o, reducer->request());
  // A run's own outputs hold every image: such a run is skipped whole or
  // reduced whole.
  const bool run_wide = run_outputs_wanted(o);
  const bool run_current =
      run_wide && o.skip_existing && RunOutputs::current(o, shard, files, settings) &&
      std::all_of(files.begin(), files.end(),
                  [&](const std::string& file) { return outputs_are_current(o, file, settings); });
  std::vector<std::string> todo;
  for (const std::string& file : files) {
    if (run_wide ? run_current : o.skip_existing && outputs_are_current(o, file, settings)) {
      count(&skipped);
    } else {
      todo.push_back(file);
    }
  }

  std::unique_ptr<RunOutputs> run;
  try {
    if (run_wide && !run_current) {
      run = std::make_unique<RunOutputs>(o, reducer->request(), todo, shard, settings,
                                         describe_corrections(reducer->request()));
    }
  } catch (const Error& e) {
    std::fprintf(err, "%s: %s\n", kName, e.what());
    return kExitUsage;
  }
  bool run_failed = false;

  bool poni_written = o.write_poni_path.empty();
  Progress progress(err, show_progress && !o.quiet, todo.size());
  std::size_t index = 0;
  if (!todo.empty()) progress.show(0, base_name(todo[0]));
  // A run output that cannot be written is given up, and the run goes on.
  auto give_up_run = [&](const Error& e) {
    progress.clear();
    std::fprintf(err, "%s: %s\n", kName, e.what());
    run.reset();
    run_failed = true;
  };
  reducer->run(todo, [&](const FileReduction& r) {
    std::vector<std::string> written;
    double run_ms = 0;  // writing the run's outputs' row
    std::string error = r.failure ? with_option(*r.failure) : "";
    if (r.ok()) {
      try {
        std::string poni_path;
        if (!poni_written) {
          const std::string text = format_poni(to_poni(r.geometry), r.header.size, r.header.size,
                                               std::string("written by ") + kName + " " +
                                                   kVokipVersion + " for " + base_name(r.path),
                                               o.poni_version);
          write_file_atomically(o.write_poni_path, text);
          poni_path = o.write_poni_path;
          poni_written = true;
        }
        // The run's row goes in once the image's own outputs are, before it counts.
        written = write_outputs(o, r, settings, [&] {
          const auto adding = std::chrono::steady_clock::now();
          if (run) run->add(index, r);
          run_ms = seconds_since(adding) * 1000;
          count(&reduced);
        });
        if (!poni_path.empty()) written.push_back(poni_path);
      } catch (const Error& e) {
        error = e.what();
      }
    }
    progress.clear();
    if (!error.empty()) {
      try {
        if (run) run->fail(index, error);
      } catch (const Error& e) {
        give_up_run(e);
      }
      std::fprintf(err, "%s: %s: %s\n", kName, r.path.c_str(), error.c_str());
      count(&failed);
    } else {
      if (o.show_times) {
        const StageTimes& t = r.times;
        std::fprintf(err,
                     "%s: read %.1f ms, decode %.1f ms, plan %.1f ms, reduce %.1f ms%s "
                     "(read and decode beside the file before)\n",
                     r.path.c_str(), t.read_ms, t.decode_ms, t.plan_ms, t.reduce_ms,
                     run ? printf_string(", run file %.1f ms", run_ms).c_str() : "");
      }
      if (!o.quiet) {
        std::fprintf(out, "%s ->", r.path.c_str());
        for (const std::string& path : written) std::fprintf(out, " %s", path.c_str());
        std::fprintf(out, "\n");
        std::fflush(out);
      }
    }
    if (++index < todo.size()) progress.show(index, base_name(todo[index]));
  });
  try {
    if (run) {
      const auto finishing = std::chrono::steady_clock::now();
      const std::vector<std::string> written = run->finish();
      if (o.show_times) {
        std::fprintf(err, "run outputs finished in %.1f ms\n", seconds_since(finishing) * 1000);
      }
      if (!o.quiet) {
        std::fprintf(out, "%zu images ->", todo.size());
        for (const std::string& path : written) std::fprintf(out, " %s", path.c_str());
        std::fprintf(out, "\n");
      }
    }
  } catch (const Error& e) {
    give_up_run(e);
  }
  if (!o.quiet) {
    std::fprintf(err, "%s: %zu reduced, %zu skipped, %zu failed in %.1f s\n", kName, reduced,
                 skipped, failed, seconds_since(start));
  }
  return failed == 0 && !run_failed ? kExitOk : kExitFileFailed;
}

}  // namespace vokip
