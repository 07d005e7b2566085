#include "engine/run/join.h"

#include <filesystem>
#include <map>
#include <memory>

#include "engine/base/error.h"
#include "engine/formats/files.h"
#include "engine/formats/run_file.h"
#include "engine/pictures/pictures.h"

namespace vokip {

namespace fs = std::filesystem;

std::string share_path(const std::string& path, long index, long count) {
  const fs::path p(path);
  const std::string share = "." + std::to_string(index + 1) + "-of-" + std::to_string(count);
  const bool has_extension = p.has_extension() && p.stem() != "";
  fs::path named = p.parent_path() / ((has_extension ? p.stem().string() : p.filename().string()) +
                                      share + (has_extension ? p.extension().string() : ""));
  return named.string();
}

std::string run_picture_title(const std::string& path, std::size_t images) {
  return fs::path(path).stem().string() + ": " + std::to_string(images) + " images";
}

JoinedRun join_run_files(const std::vector<std::string>& files, const std::string& path,
                         const std::string& waterfall_path) {
  // Each share's place, from what its file says of itself.
  std::map<long, std::string> shares;
  RunDescription joined;
  for (const std::string& file : files) {
    const RunFileReader reader(file);
    const RunDescription& d = reader.description();
    if (shares.empty()) {
      joined = d;
      joined.names.clear();
    } else if (d.shares != joined.shares || d.settings != joined.settings) {
      throw Error(file + " is not of the same run as " + shares.begin()->second + " (" +
                  (d.shares != joined.shares ? "shares" : "settings") + " differ)");
    }
    const auto [at, added] = shares.emplace(d.share, file);
    if (!added) {
      throw Error("share " + std::to_string(d.share) + " of " + std::to_string(d.shares) +
                  " is given twice: " + at->second + " and " + file);
    }
  }
  if (shares.empty()) throw Error("no run files to join");
  for (long k = 1; k <= joined.shares; ++k) {
    if (!shares.count(k)) {
      throw Error("share " + std::to_string(k) + " of " + std::to_string(joined.shares) +
                  " is missing (" + share_path(path, k - 1, joined.shares) + ")");
    }
  }
  for (const auto& [k, file] : shares) {
    const std::vector<std::string> names = RunFileReader(file).description().names;
    joined.names.insert(joined.names.end(), names.begin(), names.end());
  }
  joined.share = joined.shares = 1;
  RunFileWriter writer(path, joined);
  std::unique_ptr<Waterfall> waterfall;
  if (!waterfall_path.empty()) {
    waterfall = std::make_unique<Waterfall>(joined.names.size(), joined.unit, joined.centres,
                                            joined.bin_width);
  }
  JoinedRun result;
  result.shares = shares.size();
  for (const auto& [k, file] : shares) {
    const RunFileReader reader(file);
    for (std::size_t j = 0; j < reader.description().names.size(); ++j, ++result.images) {
      const RunRow r = reader.row(j);
      if (r.failed) {
        writer.fail(result.images, r.error);
        ++result.failed;
        continue;
      }
      writer.write(result.images, r.profile, r.header, r.geometry);
      if (waterfall) waterfall->add(result.images, r.profile.value);
    }
  }
  writer.commit();
  if (waterfall && result.images > 0) {
    write_file_atomically(waterfall_path,
                          waterfall->png(run_picture_title(waterfall_path, joined.names.size())));
  }
  return result;
}

}  // namespace vokip
