#include <iostream>

#include "Kohonen/TrainMPI/MapsmithTrainMPI.h"

int main(int argc, char** argv) { return RunMapsmithTrainMPI(argc, argv, std::cout, std::cerr); }
