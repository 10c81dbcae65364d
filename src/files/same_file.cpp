#include "files/same_file.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include "files/link_target.h"

namespace pixmoor::files {
namespace {

// statfs magic numbers of file systems that ignore the case of names.
constexpr long kMsdosMagic = 0x4d44;
constexpr long kExfatMagic = 0x2011BAB0;
constexpr long kCifsMagic = static_cast<long>(0xFF534D42u);
constexpr long kSmb2Magic = static_cast<long>(0xFE534D42u);
#ifndef FS_CASEFOLD_FL
#define FS_CASEFOLD_FL 0x40000000
#endif

bool foldsCase(const std::string& folder) {
  struct statfs fs {};
  if (::statfs(folder.c_str(), &fs) == 0) {
    const long type = static_cast<long>(fs.f_type);
    if (type == kMsdosMagic || type == kExfatMagic || type == kCifsMagic || type == kSmb2Magic) return true;
  }
  // ext4 and f2fs fold case per folder.
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  const bool folded = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_CASEFOLD_FL) != 0;
  ::close(fd);
  return folded;
}

char asciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string asciiPart(std::string_view name) {
  std::string out;
  for (const char c : name) {
    if (static_cast<unsigned char>(c) < 0x80) out.push_back(asciiLower(c));
  }
  return out;
}

}  // namespace

std::optional<FileIdentity> identityOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileIdentity{st.st_dev, st.st_ino};
}

bool namesMayMatchFolded(std::string_view a, std::string_view b) {
  const auto wide = [](std::string_view s) {
    for (const char c : s) {
      if (static_cast<unsigned char>(c) >= 0x80) return true;
    }
    return false;
  };
  if (!wide(a) && !wide(b)) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (asciiLower(a[i]) != asciiLower(b[i])) return false;
    }
    return true;
  }
  return asciiPart(a) == asciiPart(b);
}

bool couldBeSameFile(const std::string& a, const std::string& b) {
  const auto identityA = identityOf(a);
  if (identityA && identityA == identityOf(b)) return true;

  // One of them may not exist yet: compare where their names lead.
  const LinkTarget targetA = followLinks(a);
  const LinkTarget targetB = followLinks(b);
  const std::string folderA = folderOf(targetA.path);
  const std::string folderB = folderOf(targetB.path);
  const auto folderIdA = identityOf(folderA);
  const auto folderIdB = identityOf(folderB);
  const bool sameFolder = folderIdA && folderIdB ? *folderIdA == *folderIdB : folderA == folderB;
  if (!sameFolder) return false;
  const std::string nameA = nameOf(targetA.path);
  const std::string nameB = nameOf(targetB.path);
  return nameA == nameB || (foldsCase(folderA) && namesMayMatchFolded(nameA, nameB));
}

}  // namespace pixmoor::files
