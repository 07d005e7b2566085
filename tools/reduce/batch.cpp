#include "reduce/batch.h"

#include <glob.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "reduce/module_calls.h"
#include "reduce/profile_writers.h"

namespace {

constexpr char kName[] = "vokip-reduce";

bool exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

bool make_dirs(const std::string& dir, std::string* error) {
  std::string sofar;
  std::size_t at = 0;
  while (at != std::string::npos) {
    at = dir.find('/', at + 1);
    sofar = dir.substr(0, at);
    if (sofar.empty() || exists(sofar)) continue;
    if (::mkdir(sofar.c_str(), 0777) != 0 && errno != EEXIST) {
      *error = "cannot create " + sofar + ": " + std::strerror(errno);
      return false;
    }
  }
  struct stat info {};
  if (::stat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    *error = dir + " is not a folder";
    return false;
  }
  return true;
}

std::string base_name(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

class Progress {
 public:
  Progress(std::FILE* err, bool on, std::size_t files) : err_(err), on_(on), files_(files) {}
  void show(std::size_t index, const std::string& name, const char* stage) {
    if (!on_) return;
    std::fprintf(err_, "\r\033[K[%zu/%zu] %s: %s", index + 1, files_, name.c_str(), stage);
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

// The output files of one reduction, written only once all are formatted.
bool write_outputs(const Options& o, const std::string& input, const Reduction& r,
                   std::vector<std::string>* written, std::string* error) {
  const ProfileOrigin origin{base_name(input), kProgramVersion};
  std::vector<std::pair<std::string, std::string>> files;
  files.emplace_back(output_path(input, o.output_dir, ".xy"), format_xy(r, origin));
  if (o.write_chi)
    files.emplace_back(output_path(input, o.output_dir, ".chi"), format_chi(r, origin));
  if (o.write_csv) files.emplace_back(output_path(input, o.output_dir, ".csv"), format_csv(r));
  if (o.write_svg)
    files.emplace_back(output_path(input, o.output_dir, ".svg"), format_svg(r, origin));
  for (const auto& [path, text] : files) {
    if (!write_text_file(path, text, error)) return false;
    written->push_back(path);
  }
  return true;
}

}  // namespace

std::vector<std::string> expand_inputs(const std::vector<std::string>& inputs,
                                       std::vector<std::string>* unmatched) {
  std::vector<std::string> files;
  for (const std::string& input : inputs) {
    if (exists(input) || input.find_first_of("*?[") == std::string::npos) {
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

std::string output_path(const std::string& input, const std::string& output_dir,
                        const std::string& extension) {
  const std::size_t slash = input.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : input.substr(0, slash + 1);
  std::string name = input.substr(dir.size());
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  if (output_dir.empty()) return dir + name + extension;
  return output_dir + (output_dir.back() == '/' ? "" : "/") + name + extension;
}

int run_batch(const Options& options, std::FILE* out, std::FILE* err, bool show_progress) {
  Options o = options;
  std::vector<std::string> unmatched;
  const std::vector<std::string> files = expand_inputs(o.inputs, &unmatched);
  std::string error;
  if (!o.mask_path.empty()) {
    Mask mask;
    if (!read_mask(o.mask_path, &mask, &error)) {
      std::fprintf(err, "%s: mask %s: %s\n", kName, o.mask_path.c_str(), error.c_str());
      return kExitUsage;
    }
    o.request.mask = std::move(mask);
  }
  if (!o.output_dir.empty() && !make_dirs(o.output_dir, &error)) {
    std::fprintf(err, "%s: %s\n", kName, error.c_str());
    return kExitUsage;
  }
  o.request.module_dir = find_module_dir(o.request.module_dir);
  if (!start_module(o.request.module_dir, false, &error)) {
    std::fprintf(err, "%s: %s\n", kName, error.c_str());
    return kExitNoModule;
  }

  std::size_t failed = 0;
  for (const std::string& pattern : unmatched) {
    std::fprintf(err, "%s: %s: no such file\n", kName, pattern.c_str());
    ++failed;
  }
  Progress progress(err, show_progress && !o.quiet, files.size());
  for (std::size_t k = 0; k < files.size(); ++k) {
    const std::string& file = files[k];
    const Reduction r = reduce_file(
        file, o.request, [&](const char* stage) { progress.show(k, base_name(file), stage); });
    progress.show(k, base_name(file), "writing");
    std::vector<std::string> written;
    const bool ok = r.ok() && write_outputs(o, file, r, &written, &error);
    progress.clear();
    if (!ok) {
      std::fprintf(err, "%s: %s: %s\n", kName, file.c_str(),
                   r.ok() ? error.c_str() : r.error.c_str());
      ++failed;
      continue;
    }
    if (o.show_times) {
      const StageTimes& t = r.times;
      std::fprintf(err,
                   "%s: read %.1f ms, decode %.1f ms, angles %.1f ms, sort %.1f ms, "
                   "integrate %.1f ms, total %.1f ms\n",
                   file.c_str(), t.read_ms, t.decode_ms, t.angles_ms, t.sort_ms, t.integrate_ms,
                   t.total_ms());
    }
    if (!o.quiet) {
      std::fprintf(out, "%s ->", file.c_str());
      for (const std::string& path : written) std::fprintf(out, " %s", path.c_str());
      std::fprintf(out, "\n");
    }
  }
  const std::size_t total = files.size() + unmatched.size();
  if (!o.quiet && total > 1) {
    std::fprintf(err, "%s: %zu of %zu files reduced\n", kName, total - failed, total);
  }
  return failed == 0 ? kExitOk : kExitFileFailed;
}
