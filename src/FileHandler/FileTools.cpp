#include "FileHandler/FileTools.h"

#include <istream>

namespace kartlo {

void FileTools::Fail(std::istream& in, std::string message) {
  throw Error{std::move(message), &in, nullptr};
}

}  // namespace kartlo
