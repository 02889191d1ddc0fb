#include "platform/failure.h"

#include <cstring>

namespace scrivane::platform {

std::string DescribeErrno(int error) { return std::strerror(error); }

}  // namespace scrivane::platform
