# Flags every target of ours shares: warnings as errors in our code only. Plug-ins
# built against the installed package keep the warnings but not the errors: their
# authors' compilers and rules are their own.
function(kelvarin_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  # GCC 12 at -O3 reports impossible overlaps inside std::string's inlined
  # copies ("literal" + std::string); the false report is not ours to fix.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
  if(NOT KELVARIN_PACKAGE_CONSUMER)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# A shared library that keeps its own globals even when the executable that loads
# it carries a copy of the same code: its internal references bind to itself.
function(kelvarin_shared_library_flags target)
  target_link_options(${target} PRIVATE "LINKER:-Bsymbolic" "LINKER:--no-undefined")
endfunction()

# Code that goes into a module that must really unload: unique symbols would pin it
# in memory. Only GCC emits them (clang has no such flag).
function(kelvarin_unloadable_code target)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -fno-gnu-unique)
  endif()
endfunction()
