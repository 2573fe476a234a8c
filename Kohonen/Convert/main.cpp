#include <iostream>

#include "Kohonen/Convert/MapsmithConvert.h"

int main(int argc, char** argv) { return RunMapsmithConvert(argc, argv, std::cout, std::cerr); }
