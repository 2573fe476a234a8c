#include <iostream>

#include "Kohonen/View/MapsmithView.h"

int main(int argc, char** argv) { return RunMapsmithView(argc, argv, std::cout, std::cerr); }
