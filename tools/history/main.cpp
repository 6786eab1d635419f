// kestrel-history: the line memory from the command line.
#include <iostream>

#include "tools/history/History.h"

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    return kestrel::RunHistory(argc, argv, std::cout, std::cerr);
}
