#include "torv/run.h"

int main(int argc, char** argv) {
    return torv::run(argc, argv);
}
