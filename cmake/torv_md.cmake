# libmd (SHA-256) has no CMake package of its own: this finds it and names
# it torv::md, for the build and again for those who link the installed
# library (torvConfig.cmake includes this file).
if(NOT TARGET torv::md)
  find_path(TORV_MD_INCLUDE_DIR sha2.h)
  find_library(TORV_MD_LIBRARY NAMES md libmd)
  if(TORV_MD_INCLUDE_DIR AND TORV_MD_LIBRARY)
    add_library(torv::md UNKNOWN IMPORTED)
    set_target_properties(torv::md PROPERTIES IMPORTED_LOCATION "${TORV_MD_LIBRARY}"
                                              INTERFACE_INCLUDE_DIRECTORIES "${TORV_MD_INCLUDE_DIR}")
  endif()
endif()
