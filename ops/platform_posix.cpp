// The operations' calls into a POSIX system: files and folders, the temporary folder, the production
// record's file and names.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <vector>

#include "ops/files.h"
#include "ops/operations.h"
#include "ops/production_record.h"

namespace hnx {

bool PathExists(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0;
}

bool FolderExists(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool MakeFolder(const std::string& path) {
  return mkdir(path.c_str(), 0777) == 0;
}

bool DeleteFileAt(const std::string& path) {
  return unlink(path.c_str()) == 0;
}

bool RemoveEmptyFolder(const std::string& path) {
  return rmdir(path.c_str()) == 0;
}

std::string MakeNewPrivateFolder(const std::string& prefix) {
  std::string name = prefix + "XXXXXX";
  return mkdtemp(name.data()) != nullptr ? name : "";
}

StagingPaths StagingInTemporaryFolder(const std::string& name) {
  const char* temp = std::getenv("TMPDIR");
  const std::string folder = temp != nullptr && FolderExists(temp) ? temp : "/tmp";
  return {"", "", folder + "/" + name + "-"};
}

ImageFile ImageFile::OpenForReading(const std::string& path) {
  const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return {};
  struct stat status {};
  if (fstat(descriptor, &status) != 0 || S_ISDIR(status.st_mode)) {
    close(descriptor);
    return {};
  }
  return ImageFile(descriptor);
}

ImageFile ImageFile::CreateForWriting(const std::string& path) {
  const int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  return descriptor < 0 ? ImageFile() : ImageFile(descriptor);
}

ImageFile ImageFile::CreateNew(const std::string& path) {
  const int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  return descriptor < 0 ? ImageFile() : ImageFile(descriptor);
}

bool ImageFile::ReadExactly(std::span<std::uint8_t> buffer) {
  if (!isOpen()) return false;
  std::size_t done = 0;
  while (done < buffer.size()) {
    const ssize_t got = read(static_cast<int>(handle_), buffer.data() + done, buffer.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

bool ImageFile::WriteAll(std::span<const std::uint8_t> data) {
  if (!isOpen()) return false;
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t put = write(static_cast<int>(handle_), data.data() + done, data.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<std::size_t>(put);
  }
  return true;
}

void ImageFile::Close() {
  if (isOpen()) close(static_cast<int>(handle_));
  handle_ = kNoFile;
}

namespace {

std::string ErrorText(int error) {
  return std::error_code(error, std::generic_category()).message();
}

}  // namespace

std::string AppendRecordLine(const std::string& path, const std::string& line) {
  const int descriptor = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (descriptor < 0) return ErrorText(errno);
  ssize_t written = -1;
  do written = write(descriptor, line.data(), line.size());
  while (written < 0 && errno == EINTR);
  std::string failure;
  if (written < 0)
    failure = ErrorText(errno);
  else if (static_cast<std::size_t>(written) != line.size())
    failure = "only part of the record was written";
  // A pipe or a terminal has nothing to flush to a disk (EINVAL).
  else if (fsync(descriptor) != 0 && errno != EINVAL)
    failure = ErrorText(errno);
  if (close(descriptor) != 0 && failure.empty() && errno != EINTR) failure = ErrorText(errno);
  return failure;
}

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

std::string LoginName() {
  char name[256] = {};
  if (getlogin_r(name, sizeof name) == 0 && name[0] != '\0') return name;
  // No login session (a service, a container): the name of the user the process runs as.
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(4096);
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
    return found->pw_name;
  return "";
}

}  // namespace hnx
