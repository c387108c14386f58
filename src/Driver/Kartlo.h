#pragma once

#include <functional>
#include <iosfwd>

namespace kartlo {

/// The usage line printed for a wrong argument count.
inline constexpr const char* kUsageLine = "Usage: Kartlo WeightFile LabelFile CoordinateFile";

/// Runs `road` inside the program's one handler and returns the exit status:
/// 0 when it returns; 1 for a TException (three lines on `err`), a
/// FileTools::Error (its message on `out`) or any other failure (one line on `err`).
int RunHandled(const std::function<int()>& road, std::ostream& out, std::ostream& err);

/// The whole program: argument check, then the recall road inside the handler.
int RunKartlo(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

/// Loads the map and the data set, maps every row to its best node's grid
/// coordinates and saves the result; returns the exit status.
int RecallRoad(const char* weightFile, const char* labelFile, const char* coordinateFile,
               std::ostream& out, std::ostream& err);

}  // namespace kartlo
