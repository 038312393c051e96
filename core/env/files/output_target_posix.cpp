#include "quire/files/output_target.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "file_system_internal.h"

namespace quire::platform {

using internal::kUnsafeLink;

namespace {

// Links followed before the chain counts as a loop, as the system's own
// limit for path names.
constexpr int kMaxLinks = 40;

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

// The target of the link at path as it is stored. False with errno set when
// it cannot be read.
bool link_text(const std::string& path, std::string* target) {
  std::vector<char> buffer(256);
  for (;;) {
    ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (n < 0) return false;
    if (static_cast<size_t>(n) < buffer.size()) {
      target->assign(buffer.data(), static_cast<size_t>(n));
      return true;
    }
    buffer.resize(buffer.size() * 2);
  }
}

// The target of the link at path, taken from the link's directory when it
// is relative. False with errno set when it cannot be read.
bool read_link(const std::string& path, std::string* target) {
  if (!link_text(path, target)) return false;
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

// Appends the components of path to the walk's stack, last first, so that
// they are taken from the back in order.
void push_components(const std::string& path, std::vector<std::string>* stack) {
  size_t end = path.size();
  while (end > 0) {
    size_t slash = path.rfind('/', end - 1);
    size_t start = slash == std::string::npos ? 0 : slash + 1;
    if (end > start) stack->emplace_back(path, start, end - start);
    if (slash == std::string::npos) break;
    end = slash;
  }
}

}  // namespace

namespace internal {

bool unsafe_link_on_the_way(const std::string& path, std::string* link) {
  const size_t last_slash = path.rfind('/');
  if (last_slash == std::string::npos || last_slash == 0) return false;  // in "." or "/"
  // The walk keeps the directory reached so far with no link in it, so that
  // each link found is judged by the directory that really holds it, and a
  // ".." there is the physical parent, as the system takes it.
  std::string reached = path[0] == '/' ? "/" : "";
  std::vector<std::string> stack;
  push_components(path.substr(0, last_slash), &stack);
  int links = 0;
  while (!stack.empty()) {
    const std::string component = std::move(stack.back());
    stack.pop_back();
    if (component == ".") continue;
    std::string next = reached.empty() ? component : reached == "/" ? "/" + component : reached + "/" + component;
    if (component == "..") {
      reached = std::move(next);
      continue;
    }
    struct stat st;
    if (::lstat(next.c_str(), &st) != 0) return false;
    if (!S_ISLNK(st.st_mode)) {
      reached = std::move(next);
      continue;
    }
    bool safe = false;
    if (++links > kMaxLinks || !check_link_owner(next, st, &safe)) return false;
    if (!safe) {
      *link = next;
      return true;
    }
    // A relative target goes on from the link's directory, where the walk
    // stands.
    std::string target;
    if (!link_text(next, &target) || target.empty()) return false;
    if (target[0] == '/') reached = "/";
    push_components(target, &stack);
  }
  return false;
}

}  // namespace internal

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
    // The rule for links in shared directories holds for the directories on
    // the way as for the file itself: the table, OLD.DAT, the run record
    // and the temporary files all go into the directory reached.
    std::string unsafe;
    if (internal::unsafe_link_on_the_way(at, &unsafe)) {
      target.kind = OutputTarget::kRefused;
      target.what = kUnsafeLink;
      target.refused_path = unsafe;
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
