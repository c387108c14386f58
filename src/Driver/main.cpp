#include <iostream>

#include "Driver/Kartlo.h"

int main(int argc, char** argv) { return kartlo::RunKartlo(argc, argv, std::cout, std::cerr); }
