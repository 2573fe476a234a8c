#include <iostream>

#include "Kohonen/Label/MapsmithLabel.h"

int main(int argc, char** argv) { return RunMapsmithLabel(argc, argv, std::cout, std::cerr); }
