#include "torv_pack/cli.h"

int main(int argc, char** argv) {
    return torv::run_pack(argc, argv);
}
