#include "driver/context.h"
#include "driver/driver.h"

namespace {

// The one conversion state of the process. It is large (the dictionary and
// the header area live in it), so it stays out of the stack.
torv::conversion_context context;

}  // namespace

int main(int argc, char** argv) {
    return torv::run(context, argc, argv);
}
