#include "platform/failure.h"

#include <cerrno>
#include <cstring>

namespace scrivane::platform {

std::string DescribeErrno(int error) {
  switch (error) {
    case ENOENT: return "File not found";
    case ENOTDIR: return "Path not found";
    case EACCES:
    case EPERM: return "Permission denied";
    case EROFS: return "Permission denied (read-only file system)";
    case ENOSPC:
    case EDQUOT: return "Disk full";
    case EISDIR: return "Path/File access error (it is a folder)";
    case ENAMETOOLONG: return "File name too long";
    case EMFILE:
    case ENFILE: return "Too many files";
    case EIO: return "Device I/O error";
    case EFBIG: return "File too large";
    case ELOOP: return "Path not found (too many symbolic links)";
    default: return std::strerror(error);
  }
}

}  // namespace scrivane::platform
