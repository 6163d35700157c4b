# Checks that Windows executables import no DLL beyond the system's own: a
# DLL that Windows lacks (zlib1.dll, a compiler runtime) would stop the
# program from starting on a machine that has only Windows. Wine ships many
# such DLLs, so running there proves nothing.
#   cmake -DOBJDUMP=x86_64-w64-mingw32-objdump "-DEXECUTABLES=a.exe;b.exe" -P check_imports.cmake
cmake_minimum_required(VERSION 3.22)

# Every DLL that every supported Windows (10 and later) has.
set(system_dlls KERNEL32.dll msvcrt.dll ADVAPI32.dll USER32.dll SHELL32.dll)
string(TOLOWER "${system_dlls}" allowed)

if(NOT OBJDUMP OR NOT EXECUTABLES)
  message(FATAL_ERROR "usage: cmake -DOBJDUMP=... -DEXECUTABLES=... -P check_imports.cmake")
endif()
set(failed FALSE)
foreach(executable IN LISTS EXECUTABLES)
  execute_process(COMMAND "${OBJDUMP}" -p "${executable}" OUTPUT_VARIABLE headers RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} cannot read ${executable}")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\r\n]+" lines "${headers}")
  set(names)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "DLL Name: " "" dll "${line}")
    string(STRIP "${dll}" dll)
    list(APPEND names "${dll}")
    string(TOLOWER "${dll}" lowered)
    if(NOT lowered IN_LIST allowed)
      message(SEND_ERROR "${executable} imports ${dll}, which Windows does not have (allowed: ${system_dlls})")
      set(failed TRUE)
    endif()
  endforeach()
  get_filename_component(shown "${executable}" NAME)
  list(JOIN names ", " joined)
  message(STATUS "${shown} imports: ${joined}")
endforeach()
if(failed)
  message(FATAL_ERROR "a Windows executable imports a DLL outside the system's")
endif()
