# SPDX-License-Identifier: GPL-3.0-or-later
# Hardening that a plain build gets without a distribution's flags: stack protector, stack
# clash protection, control-flow protection, fortified C library calls, PIE, full RELRO and
# immediate binding. Flags from the environment (CXXFLAGS, LDFLAGS and CPPFLAGS, as
# dpkg-buildflags exports them) come after these on the command line, so they win where
# they differ.
include(CheckCXXCompilerFlag)
include(CheckCXXSourceCompiles)
include(CheckPIESupported)

option(ZARVEL_HARDENING "Build with the hardening flags by default" ON)
# CMake itself reads CXXFLAGS and LDFLAGS but not CPPFLAGS; like those, it is taken from the
# environment of the first configure.
set(ZARVEL_CPPFLAGS "$ENV{CPPFLAGS}" CACHE STRING "Preprocessor flags (CPPFLAGS at the first configure)")
separate_arguments(cppflags UNIX_COMMAND "${ZARVEL_CPPFLAGS}")
add_compile_options(${cppflags})

if(NOT ZARVEL_HARDENING)
  return()
endif()

set(CMAKE_POSITION_INDEPENDENT_CODE ON)
check_pie_supported(LANGUAGES CXX)

set(hardening_flags "")
foreach(flag -fstack-protector-strong -fstack-clash-protection -fcf-protection)
  string(MAKE_C_IDENTIFIER "ZARVEL_HAS${flag}" supported)
  check_cxx_compiler_flag(${flag} ${supported})
  if(${supported})
    string(APPEND hardening_flags " ${flag}")
  endif()
endforeach()
string(PREPEND CMAKE_CXX_FLAGS "${hardening_flags} ")
string(PREPEND CMAKE_EXE_LINKER_FLAGS "-Wl,-z,relro -Wl,-z,now ")
string(PREPEND CMAKE_SHARED_LINKER_FLAGS "-Wl,-z,relro -Wl,-z,now ")

# Fortified calls need an optimised build, and the sanitizers replace the calls they check;
# a level given by the flags from the environment is kept as it is.
if(ZARVEL_SANITIZE OR "${CMAKE_CXX_FLAGS} ${ZARVEL_CPPFLAGS}" MATCHES "_FORTIFY_SOURCE")
  return()
endif()
# Level 3 also checks sizes known only at run time; it needs the compiler's dynamic object size.
set(CMAKE_REQUIRED_FLAGS -O2)
check_cxx_source_compiles("
#if !defined(__has_builtin) || !__has_builtin(__builtin_dynamic_object_size)
#error no dynamic object size
#endif
int main() { return 0; }" ZARVEL_HAS_FORTIFY_3)
unset(CMAKE_REQUIRED_FLAGS)
if(ZARVEL_HAS_FORTIFY_3)
  set(fortify_level 3)
else()
  set(fortify_level 2)
endif()
add_compile_options("$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=${fortify_level}>")
