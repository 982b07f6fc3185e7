// kvxsim: the emulated device tool. The commands live in kvxsim_cli.cpp.
#include <iostream>
#include <string>
#include <vector>

#include "tools/kvxsim/kvxsim_cli.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return kvx::sim::RunKvxsim(args, std::cout, std::cerr);
}
