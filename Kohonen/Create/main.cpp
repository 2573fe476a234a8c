#include <iostream>

#include "Kohonen/Create/Mapsmith.h"

int main(int argc, char** argv) { return RunMapsmith(argc, argv, std::cout, std::cerr); }
