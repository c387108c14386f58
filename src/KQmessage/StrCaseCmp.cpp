#include "KQmessage/StrCaseCmp.h"

#include <cctype>

namespace kartlo {

int strcasecmp(const char* a, const char* b) {
  const auto* pa = reinterpret_cast<const unsigned char*>(a);
  const auto* pb = reinterpret_cast<const unsigned char*>(b);
  for (;; ++pa, ++pb) {
    // Upper-cased bytes compared as unsigned, exactly as comparing two
    // upper-cased copies would; the copies themselves are not needed.
    const auto ca = static_cast<unsigned char>(std::toupper(*pa));
    const auto cb = static_cast<unsigned char>(std::toupper(*pb));
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
  }
}

}  // namespace kartlo
