#pragma once

namespace kartlo {

/// Compares as the byte-wise comparison of both strings upper-cased with
/// std::toupper; negative, zero or positive. Allocates nothing.
int strcasecmp(const char* a, const char* b);

}  // namespace kartlo
