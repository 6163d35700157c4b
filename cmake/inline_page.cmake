# Makes the page one self-contained file: the style, the worker (the
# WebAssembly module's script, its WebAssembly inside, then the worker's own)
# and the page's script (its parts in order, in one function's scope), each
# put in place of its marker in the template.
#   cmake -DTEMPLATE=page.html -DSTYLE=page.css -DMODULE=torv_module.js
#         -DWORKER=worker.js "-DSCRIPT=limits.js|client.js|...|page.js" -DVERSION=1.1.0
#         -DOUTPUT=torv.html -P inline_page.cmake
cmake_minimum_required(VERSION 3.22)
file(READ "${TEMPLATE}" page)
file(READ "${STYLE}" style)
file(READ "${MODULE}" module)
file(READ "${WORKER}" worker)
set(script "(() => {\n'use strict';\n")
string(REPLACE "|" ";" script_parts "${SCRIPT}")
foreach(part IN LISTS script_parts)
  file(READ "${part}" text)
  string(APPEND script "${text}\n")
endforeach()
string(APPEND script "})();\n")
# Inside a script element, "</script" would end it early.
foreach(part module worker script)
  string(TOLOWER "${${part}}" lowered)
  string(FIND "${lowered}" "</script" found)
  if(NOT found EQUAL -1)
    message(FATAL_ERROR "${part} holds \"</script\": it cannot be put inside the page")
  endif()
endforeach()
string(REPLACE "@version@" "${VERSION}" page "${page}")
string(REPLACE "/*@page.css@*/" "${style}" page "${page}")
string(REPLACE "//@worker@" "${module}\n${worker}" page "${page}")
string(REPLACE "//@page.js@" "${script}" page "${page}")
file(WRITE "${OUTPUT}" "${page}")
