#include <iostream>

#include "Kohonen/Map/MapsmithMap.h"

int main(int argc, char** argv) { return RunMapsmithMap(argc, argv, std::cout, std::cerr); }
