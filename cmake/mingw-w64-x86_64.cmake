# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 (package
# g++-mingw-w64-x86-64). Test programs run through Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

# The POSIX thread model: GoogleTest needs std::mutex, which the win32 model
# of this compiler version lacks. Linked statically, it adds no DLL.
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# zlib and libpng as tools/build_third_party.sh builds them from Debian's
# sources, static, searched first; then the system's MinGW libraries.
get_filename_component(TORV_THIRD_PARTY "${CMAKE_CURRENT_LIST_DIR}/../third_party/mingw" ABSOLUTE)
set(CMAKE_FIND_ROOT_PATH ${TORV_THIRD_PARTY} /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Debian's libz-mingw-w64-dev puts an import library for zlib1.dll (a DLL
# that Windows lacks) where the search would find it: the static libraries
# are named outright, whatever else the machine has.
if(EXISTS "${TORV_THIRD_PARTY}/lib/libz.a")
  set(ZLIB_LIBRARY "${TORV_THIRD_PARTY}/lib/libz.a" CACHE FILEPATH "static zlib for Windows")
  set(ZLIB_INCLUDE_DIR "${TORV_THIRD_PARTY}/include" CACHE PATH "zlib's headers for Windows")
endif()
if(EXISTS "${TORV_THIRD_PARTY}/lib/libpng.a")
  set(PNG_LIBRARY "${TORV_THIRD_PARTY}/lib/libpng.a" CACHE FILEPATH "static libpng for Windows")
  set(PNG_PNG_INCLUDE_DIR "${TORV_THIRD_PARTY}/include" CACHE PATH "libpng's headers for Windows")
endif()
if(EXISTS "${TORV_THIRD_PARTY}/lib/libgif.a")
  set(GIF_LIBRARY "${TORV_THIRD_PARTY}/lib/libgif.a" CACHE FILEPATH "static giflib for Windows")
  set(GIF_INCLUDE_DIR "${TORV_THIRD_PARTY}/include" CACHE PATH "giflib's header for Windows")
endif()
if(EXISTS "${TORV_THIRD_PARTY}/lib/libmd.a")
  set(TORV_MD_LIBRARY "${TORV_THIRD_PARTY}/lib/libmd.a" CACHE FILEPATH "static libmd for Windows")
  set(TORV_MD_INCLUDE_DIR "${TORV_THIRD_PARTY}/include" CACHE PATH "libmd's header for Windows")
endif()

find_program(TORV_WINE NAMES wine wine64)
if(TORV_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TORV_WINE})
endif()
