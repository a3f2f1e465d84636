#include "platform/atomic_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tidrex::platform {

bool MakeFolders(const std::string& folder, unsigned mode) {
  if (folder.empty()) return false;
  std::string path;
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    std::size_t next = folder.find('/', pos + 1);
    path = folder.substr(0, next);
    pos = next;
    if (path.empty() || path == "/") continue;
    if (mkdir(path.c_str(), mode) != 0 && errno != EEXIST) return false;
  }
  struct stat st {};
  return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool WriteFileAtomically(const std::string& path, const std::string& contents, unsigned mode) {
  std::size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  if (base.empty()) return false;
  std::string tmp = dir + "." + base + ".XXXXXX";
  int fd = mkstemp(tmp.data());
  if (fd < 0) return false;
  bool ok = fchmod(fd, mode) == 0;
  for (std::size_t done = 0; ok && done < contents.size();) {
    ssize_t n = write(fd, contents.data() + done, contents.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false; else done += std::size_t(n);
  }
  ok = ok && fsync(fd) == 0;
  ok = (close(fd) == 0) && ok;
  ok = ok && rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok) unlink(tmp.c_str());
  return ok;
}

}  // namespace tidrex::platform
