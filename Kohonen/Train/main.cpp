#include <iostream>

#include "Kohonen/Train/MapsmithTrain.h"

int main(int argc, char** argv) { return RunMapsmithTrain(argc, argv, std::cout, std::cerr); }
