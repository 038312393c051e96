#include "quire/files/output_target.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace quire::platform {

namespace {

// Links followed before the chain counts as a loop, as the system's own
// limit for path names.
constexpr int kMaxLinks = 40;

constexpr const char* kUnsafeLink =
    "a symbolic link owned by another user in a shared directory (sticky, world-writable); not followed";

bool names_standard_output(const std::string& path) {
  return path == "/dev/stdout" || path == "/dev/fd/1" || path == "/proc/self/fd/1";
}

const char* kind_text(mode_t mode) {
  if (S_ISREG(mode)) return "a regular file";
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISLNK(mode)) return "a symbolic link";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

// The target of the link at path, taken from the link's directory when it
// is relative. False with errno set when it cannot be read.
bool read_link(const std::string& path, std::string* target) {
  std::vector<char> buffer(256);
  for (;;) {
    ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (n < 0) return false;
    if (static_cast<size_t>(n) < buffer.size()) {
      target->assign(buffer.data(), static_cast<size_t>(n));
      break;
    }
    buffer.resize(buffer.size() * 2);
  }
  if (!target->empty() && (*target)[0] != '/') {
    size_t slash = path.rfind('/');
    if (slash != std::string::npos) *target = path.substr(0, slash + 1) + *target;
  }
  return true;
}

// True when the link at link_path, whose facts are link, may be followed: it
// is in no shared directory (sticky and writable by everybody), or belongs
// to that directory's owner or to this process's user. False with errno
// set when the directory cannot be examined (*safe untouched).
bool check_link_owner(const std::string& link_path, const struct stat& link, bool* safe) {
  struct stat directory;
  if (::stat(directory_of(link_path).c_str(), &directory) != 0) return false;
  const bool shared = (directory.st_mode & S_ISVTX) != 0 && (directory.st_mode & S_IWOTH) != 0;
  *safe = !shared || link.st_uid == directory.st_uid || link.st_uid == ::geteuid();
  return true;
}

}  // namespace

OutputTarget examine_output(const std::string& path) {
  OutputTarget target;
  std::string at = path;
  for (int links = 0;; ++links) {
    if (names_standard_output(at)) {
      target.kind = OutputTarget::kStream;
      target.standard_output = true;
      target.path.clear();
      return target;
    }
    struct stat st;
    if (::lstat(at.c_str(), &st) != 0) {
      if (errno == ENOENT) {
        target.kind = OutputTarget::kFile;
        target.path = at;
      } else {
        target.status.fail(errno, "examine", at);
      }
      return target;
    }
    if (S_ISLNK(st.st_mode)) {
      std::string next;
      if (links >= kMaxLinks) {
        target.status.fail(ELOOP, "follow the links of", path);
        return target;
      }
      bool safe = false;
      if (!check_link_owner(at, st, &safe)) {
        target.status.fail(errno, "examine the directory of", at);
        return target;
      }
      if (!safe) {
        target.kind = OutputTarget::kRefused;
        target.what = kUnsafeLink;
        target.refused_path = at;
        return target;
      }
      if (!read_link(at, &next)) {
        target.status.fail(errno, "follow the link", at);
        return target;
      }
      at = next;
      continue;
    }
    target.path = at;
    if (S_ISREG(st.st_mode)) {
      target.kind = OutputTarget::kFile;
    } else if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)) {
      target.kind = OutputTarget::kStream;
    } else {
      target.kind = OutputTarget::kRefused;
      target.what = kind_text(st.st_mode);
      target.refused_path = path;
    }
    return target;
  }
}

std::string scratch_directory() {
  const char* directory = std::getenv("TMPDIR");
  return directory != nullptr && *directory != '\0' ? directory : "/tmp";
}

bool is_regular_file_itself(const std::string& path, const char** what) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) {
    *what = "nothing";
    return false;
  }
  *what = kind_text(st.st_mode);
  return S_ISREG(st.st_mode);
}

}  // namespace quire::platform
