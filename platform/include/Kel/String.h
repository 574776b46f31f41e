#pragma once

#include <string>

namespace Kel {

// A value string: compared byte-wise, so ordered maps iterate in ascending byte order.
using String = std::string;

}  // namespace Kel
