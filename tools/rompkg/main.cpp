#include <iostream>
#include <string>
#include <vector>

#include "rompkg.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return rompkg::Run(args, std::cout, std::cerr);
}
