# Builds for WebAssembly with Debian's emscripten (package emscripten; with
# the machine's Node.js it needs NODE_PATH=/usr/share/nodejs for its acorn
# module). zlib and libpng come from tools/build_third_party.sh emscripten.
include(/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake)
get_filename_component(TORV_THIRD_PARTY "${CMAKE_CURRENT_LIST_DIR}/../third_party/emscripten" ABSOLUTE)
list(APPEND CMAKE_FIND_ROOT_PATH ${TORV_THIRD_PARTY})
