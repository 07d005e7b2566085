#include "cli/reduce/batch.h"

#include <glob.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "engine/error.h"
#include "engine/formats/cake_files.h"
#include "engine/formats/files.h"
#include "engine/formats/image_files.h"
#include "engine/formats/poni.h"
#include "engine/formats/profile_writers.h"
#include "engine/pictures/pictures.h"
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

// The output files of an input, in the order they are written.
std::vector<std::string> outputs_of(const Options& o, const std::string& input) {
  std::vector<std::string> paths = {output_path(input, o.output_dir, ".xy")};
  if (o.write_chi) paths.push_back(output_path(input, o.output_dir, ".chi"));
  if (o.write_csv) paths.push_back(output_path(input, o.output_dir, ".csv"));
  if (o.write_svg) paths.push_back(output_path(input, o.output_dir, ".svg"));
  if (o.write_xye) paths.push_back(output_path(input, o.output_dir, ".xye"));
  if (o.write_png) {
    paths.push_back(output_path(input, o.output_dir, ".png"));
    paths.push_back(output_path(input, o.output_dir, ".image.png"));
  }
  if (o.request.azimuth_bins > 0) {
    paths.push_back(output_path(input, o.output_dir, ".cake.tif"));
    paths.push_back(output_path(input, o.output_dir, ".cake.txt"));
    paths.push_back(output_path(input, o.output_dir, ".cake.png"));
  }
  return paths;
}

// The corrections and limits applied, for the outputs' headers.
std::string describe_corrections(const Options& o) {
  const Corrections& c = o.request.corrections;
  const RunOptions& run = o.request.run;
  std::vector<std::string> parts;
  char text[128];
  if (!o.dark_path.empty()) parts.push_back("dark " + base_name(o.dark_path) + " subtracted");
  if (!o.flat_path.empty()) parts.push_back("flat " + base_name(o.flat_path));
  if (c.solid_angle) parts.push_back("solid angle (cos^3)");
  if (c.polarization) {
    std::snprintf(text, sizeof text, "polarization %g", *c.polarization);
    parts.emplace_back(text);
  }
  if (run.low || run.high) {
    std::snprintf(text, sizeof text, "raw values kept from %g to %g", run.low.value_or(-INFINITY),
                  run.high.value_or(INFINITY));
    parts.emplace_back(text);
  }
  std::string joined;
  for (const std::string& part : parts) joined += (joined.empty() ? "" : ", ") + part;
  return joined;
}

// Every output exists and was written after the input last changed.
bool outputs_are_current(const Options& o, const std::string& input) {
  std::error_code error;
  const fs::file_time_type changed = fs::last_write_time(input, error);
  if (error) return false;
  for (const std::string& path : outputs_of(o, input)) {
    const fs::file_time_type written = fs::last_write_time(path, error);
    if (error || !(written > changed)) return false;
  }
  return true;
}

// The output files of one reduction, written only once all are formatted.
std::vector<std::string> write_outputs(const Options& o, const FileReduction& r) {
  const ProfileOrigin origin{base_name(r.path), std::string(kName) + " " + kVokipVersion,
                             describe_corrections(o)};
  const std::vector<std::string> paths = outputs_of(o, r.path);
  auto bytes = [](const std::string& text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
  };
  // Every file is made before the first is written.
  std::vector<std::vector<std::uint8_t>> contents = {
      bytes(format_xy(r.profile, r.geometry, origin))};
  if (o.write_chi) contents.push_back(bytes(format_chi(r.profile, r.geometry, origin)));
  if (o.write_csv) contents.push_back(bytes(format_csv(r.profile, r.geometry)));
  if (o.write_svg) contents.push_back(bytes(format_svg(r.profile, r.geometry, origin)));
  if (o.write_xye) contents.push_back(bytes(format_xye(r.profile)));
  if (o.write_png) {
    contents.push_back(profile_png(r.profile, origin.input_name));
    contents.push_back(r.image_picture);
  }
  if (o.request.azimuth_bins > 0) {
    contents.push_back(encode_cake_tiff(r.profile, origin.input_name));
    contents.push_back(bytes(format_cake_axes(r.profile, origin.input_name)));
    contents.push_back(cake_png(r.profile, origin.input_name + ": cake"));
  }
  for (std::size_t k = 0; k < paths.size(); ++k) write_file_atomically(paths[k], contents[k]);
  return paths;
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

ReductionRequest loaded_request(const Options& o) {
  ReductionRequest request = o.request;
  // Each file named once is read once, for every image.
  auto read_named = [](const char* what, const std::string& path, auto&& read) {
    try {
      return read(path);
    } catch (const Error& e) {
      throw Error(std::string(what) + " " + path + ": " + e.what(), e.kind());
    }
  };
  if (!o.mask_path.empty()) {
    request.mask = std::make_shared<const Mask>(read_named("mask", o.mask_path, read_mask_image));
  }
  if (!o.dark_path.empty()) {
    request.corrections.dark =
        std::make_shared<const ValueImage>(read_named("dark", o.dark_path, read_value_image));
  }
  if (!o.flat_path.empty()) {
    request.corrections.flat =
        std::make_shared<const ValueImage>(read_named("flat", o.flat_path, read_value_image));
  }
  if (!o.poni_path.empty()) {
    request.geometry.base = from_poni(
        read_named(".poni", o.poni_path, [](const std::string& p) { return read_poni(p); }));
  }
  return request;
}

int run_batch(const Options& options, std::FILE* out, std::FILE* err, bool show_progress) {
  const auto start = std::chrono::steady_clock::now();
  Options o = options;
  std::vector<std::string> unmatched;
  std::vector<std::string> files = expand_inputs(o.inputs, &unmatched);
  try {
    std::optional<Shard> shard = o.shard;
    if (!shard)
      shard = slurm_array_shard([](const char* name) -> const char* { return std::getenv(name); });
    if (shard) {
      files = shard_of(std::move(files), *shard);
      unmatched.clear();  // a pattern that matched nothing is every share's, and no file
    }
    o.request = loaded_request(o);
    if (!o.output_dir.empty()) {
      std::error_code error;
      fs::create_directories(o.output_dir, error);
      if (!fs::is_directory(o.output_dir)) {
        throw Error("cannot create the folder " + o.output_dir +
                    (error ? ": " + error.message() : std::string()));
      }
    }
  } catch (const Error& e) {
    std::fprintf(err, "%s: %s\n", kName, e.what());
    return kExitUsage;
  }

  std::size_t failed = 0, skipped = 0, reduced = 0;
  for (const std::string& pattern : unmatched) {
    std::fprintf(err, "%s: %s: no such file\n", kName, pattern.c_str());
    ++failed;
  }
  std::vector<std::string> todo;
  for (const std::string& file : files) {
    if (o.skip_existing && outputs_are_current(o, file)) {
      // A temporary a killed run left beside a finished output goes too.
      for (const std::string& path : outputs_of(o, file)) std::remove(temporary_name(path).c_str());
      ++skipped;
    } else {
      todo.push_back(file);
    }
  }

  bool poni_written = o.write_poni_path.empty();
  Progress progress(err, show_progress && !o.quiet, todo.size());
  FileReducer reducer(o.request);
  std::size_t index = 0;
  if (!todo.empty()) progress.show(0, base_name(todo[0]));
  reducer.run(todo, [&](const FileReduction& r) {
    std::vector<std::string> written;
    std::string error = r.error;
    if (r.ok()) {
      try {
        written = write_outputs(o, r);
        if (!poni_written) {
          const std::string text = format_poni(to_poni(r.geometry), r.header.size, r.header.size,
                                               std::string("written by ") + kName + " " +
                                                   kVokipVersion + " for " + base_name(r.path),
                                               o.poni_version);
          write_file_atomically(o.write_poni_path, text);
          written.push_back(o.write_poni_path);
          poni_written = true;
        }
      } catch (const Error& e) {
        error = e.what();
      }
    }
    progress.clear();
    if (!error.empty()) {
      std::fprintf(err, "%s: %s: %s\n", kName, r.path.c_str(), error.c_str());
      ++failed;
    } else {
      ++reduced;
      if (o.show_times) {
        const StageTimes& t = r.times;
        std::fprintf(err,
                     "%s: read %.1f ms, decode %.1f ms, plan %.1f ms, reduce %.1f ms "
                     "(read and decode beside the file before)\n",
                     r.path.c_str(), t.read_ms, t.decode_ms, t.plan_ms, t.reduce_ms);
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
  if (!o.quiet) {
    std::fprintf(err, "%s: %zu reduced, %zu skipped, %zu failed in %.1f s\n", kName, reduced,
                 skipped, failed, seconds_since(start));
  }
  return failed == 0 ? kExitOk : kExitFileFailed;
}

}  // namespace vokip
