// Which pictures a batch dehazes and where each result goes.
#include "dehazefile/batch_plan.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <utility>

#include <dirent.h>
#include <sys/stat.h>

#include "dehazefile/dehaze_clip.h"
#include "dehazefile/dehaze_file.h"
#include "dehazefile/extension_names.h"
#include "dehazefile/image_header.h"
#include "video/video_encoding.h"

namespace vantorel {

namespace {

using FileId = std::pair<dev_t, ino_t>;

// Extensions of the formats the image library reads: a folder's other files are not pictures.
bool LooksLikePicture(const std::string& name) {
  const std::string extension = Lowercase(FileExtension(name));
  static const std::set<std::string> kReadable = {".jpg", ".jpeg", ".jpe", ".png", ".webp", ".tif", ".tiff",
                                                  ".bmp", ".dib",  ".ppm", ".pgm", ".pbm",  ".pnm", ".pxm",
                                                  ".pfm", ".sr",   ".ras", ".jp2", ".exr",  ".hdr", ".pic"};
  return kReadable.count(extension) > 0;
}

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string BaseName(const std::string& path) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  const size_t slash = trimmed.find_last_of('/');
  return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

std::string Stem(const std::string& name) {
  const std::string extension = FileExtension(name);
  return name.substr(0, name.size() - extension.size());
}

bool IdOf(const std::string& path, FileId& id) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return false;
  id = {info.st_dev, info.st_ino};
  return true;
}

struct Walk {
  const BatchRequest& request;
  bool has_output_id;
  FileId output_id;
  std::vector<std::pair<std::string, std::string>> found;  // source, its path relative to the result folder
  std::set<FileId> folders_seen;                           // links may lead back up the tree
  int folders_left_out = 0;
  int special_files_left_out = 0;  // FIFOs, sockets and devices with a picture's name
  std::string error;  // the first folder that could not be read

  void Folder(const std::string& folder, const std::string& relative) {
    FileId id;
    if (!IdOf(folder, id) || !folders_seen.insert(id).second) return;
    if (has_output_id && id == output_id) return;  // the results of an earlier run are not sources
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
      if (error.empty()) error = folder + ": cannot read the folder: " + std::strerror(errno);
      return;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
      if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      const std::string path = Join(folder, name);
      struct stat info {};
      if (::stat(path.c_str(), &info) != 0) {
        // A link to nothing, named like a picture, fails in its turn as when it is named.
        if (LooksLikePicture(name)) found.emplace_back(path, Join(relative, name));
      } else if (S_ISDIR(info.st_mode)) {
        if (request.recursive) Folder(path, Join(relative, name));
        else ++folders_left_out;
      } else if (!LooksLikePicture(name) && !HasClipExtension(name)) {
        continue;
      } else if (S_ISREG(info.st_mode)) {
        found.emplace_back(path, Join(relative, name));
      } else {
        ++special_files_left_out;  // reading a FIFO or a device could wait for ever
      }
    }
  }
};

}  // namespace

std::string ClipResultExtension(const std::string& source, const std::string& video_format) {
  if (!video_format.empty()) return "." + video_format;
  const std::string own = FileExtension(BaseName(source));
  return ContainerOfExtension(own).empty() ? ".mkv" : own;
}

std::string ResultExtension(const std::string& source, const std::string& format) {
  if (!format.empty()) return format;
  const std::string own = FileExtension(BaseName(source));
  std::string why;
  return !own.empty() && CanWriteFormat(own, why) ? own : ".png";
}

bool BatchFormat(const std::string& requested, std::string& format, std::string& error) {
  format = requested;
  if (format.empty()) return true;
  if (format[0] != '.') format = "." + format;
  format = Lowercase(format);
  if (format.size() < 2 || format.find_first_of("/\\.", 1) != std::string::npos) {
    error = "'" + requested + "' is not a file extension such as png";
    return false;
  }
  return CanWriteFormat(format, error);
}

bool PlanBatch(const BatchRequest& request, std::vector<BatchItem>& items, std::string& error,
               std::vector<std::string>& notes) {
  if (request.suffix.find('/') != std::string::npos) {
    error = "the suffix '" + request.suffix + "' must not name a folder";
    return false;
  }
  Walk walk{request, false, {}, {}, {}, 0, 0, {}};
  walk.has_output_id = IdOf(request.output_dir, walk.output_id);
  for (const std::string& source : request.sources) {
    struct stat info {};
    if (::stat(source.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
      walk.Folder(source, "");
    } else {
      walk.found.emplace_back(source, BaseName(source));  // a missing one fails in its turn
    }
  }
  if (!walk.error.empty()) {
    error = walk.error;
    return false;
  }
  if (walk.folders_left_out > 0) {
    notes.push_back(std::to_string(walk.folders_left_out) + " sub-folder" +
                    (walk.folders_left_out == 1 ? " was" : "s were") + " left out; -r descends into them");
  }
  if (walk.special_files_left_out > 0) {
    notes.push_back(std::to_string(walk.special_files_left_out) +
                    (walk.special_files_left_out == 1 ? " file that is" : " files that are") +
                    " not a regular file (a FIFO, socket or device) left out");
  }

  std::set<FileId> source_ids;
  for (const auto& found : walk.found) {
    FileId id;
    if (IdOf(found.first, id)) source_ids.insert(id);
  }
  std::map<std::string, std::string> written_by;  // each file the batch writes, and its source
  const auto claim = [&](const std::string& path, const std::string& source) {
    const auto placed = written_by.emplace(path, source);
    if (!placed.second) {
      error = placed.first->second + " and " + source + " would both be written to " + path;
      return false;
    }
    FileId id;
    if (IdOf(path, id) && source_ids.count(id) > 0) {
      error = path + ", the result of " + source + ", is one of the sources: it would be replaced";
      return false;
    }
    return true;
  };

  items.clear();
  for (const auto& found : walk.found) {
    const std::string& relative = found.second;
    BatchItem item;
    item.source = found.first;
    const std::string stem = Join(request.output_dir, Stem(relative)) + request.suffix;
    item.clip = IsClipFile(item.source);
    item.result = stem + (item.clip ? ClipResultExtension(relative, request.video_format)
                                    : ResultExtension(relative, request.format));
    if (!item.clip) {
      if (const std::string why = DepthRefusal(FileExtension(item.result), request.depth); !why.empty()) {
        error = item.result + ": " + why;
        return false;
      }
    }
    if (request.maps && !item.clip) item.map = stem + ".transmission.png";
    if (!claim(item.result, item.source) || (!item.map.empty() && !claim(item.map, item.source))) return false;
    DeclaredSize declared;
    if (ReadDeclaredSizeOfFile(item.source, declared)) item.pixels = declared.cols * declared.rows;
    items.push_back(item);
  }
  return true;
}

}  // namespace vantorel
