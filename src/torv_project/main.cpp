#include "torv_project/cli.h"

int main(int argc, char** argv) {
    return torv::run_project(argc, argv);
}
