#include "Driver/Kartlo.h"

#include <exception>
#include <new>
#include <ostream>

#include "FileHandler/FileTools.h"
#include "KQmessage/TException.h"

namespace kartlo {

namespace {

void PrintLine(std::ostream& stream, const std::optional<std::string>& text) {
  if (text) stream << *text;
  stream << '\n';
}

}  // namespace

int RunHandled(const std::function<int()>& road, std::ostream& out, std::ostream& err) {
  try {
    return road();
  } catch (const TException& e) {
    PrintLine(err, e.text);
    PrintLine(err, e.category);
    PrintLine(err, e.origin);
    err.flush();
  } catch (const FileTools::Error& e) {
    out << e.message << '\n';
    out.flush();
  } catch (const std::bad_alloc&) {
    err << "Kartlo: out of memory" << '\n';
    err.flush();
  } catch (const std::exception& e) {
    err << "Kartlo: " << e.what() << '\n';
    err.flush();
  }
  return 1;
}

int RunKartlo(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  if (argc != 4) {
    err << kUsageLine << '\n';
    err.flush();
    return 1;
  }
  return RunHandled([&] { return RecallRoad(argv[1], argv[2], argv[3], out, err); }, out, err);
}

}  // namespace kartlo
