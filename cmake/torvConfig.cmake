# find_package(torv): the library libtorv (target torv::torv_core) and its
# public headers <libtorv/unpack.h> and <libtorv/pack.h>.
include(CMakeFindDependencyMacro)
find_dependency(Threads)
find_dependency(PNG)
include("${CMAKE_CURRENT_LIST_DIR}/torvTargets.cmake")
