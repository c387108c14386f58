#include <ostream>

#include "Driver/Kartlo.h"

namespace kartlo {

int RecallRoad(const char* /*weightFile*/, const char* /*labelFile*/,
               const char* /*coordinateFile*/, std::ostream& /*out*/, std::ostream& /*err*/) {
  return 0;
}

}  // namespace kartlo
