# Compiler settings shared by every target of the project.

# tarv_target_defaults(<target>): warnings (errors under TARV_WERROR) for one target.
function(tarv_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(TARV_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# tarv_precompile(<target> STD|QT|WIDGETS [GTEST]): the headers most sources of
# a larger target include, parsed once for the target instead of once per
# source (a sixth to a third of such a target's compile time, measured under
# AddressSanitizer). A source may then compile without including what it uses
# itself: only a build with TARV_PCH=OFF shows such a gap everywhere (the
# Windows cross-build and the fuzz build, which precompile nothing, cover only
# the driver library and the pure units).
set(tarv_pch_std <chrono> <functional> <map> <memory> <mutex> <string> <vector>)
set(tarv_pch_qt <QByteArray> <QList> <QObject> <QString> <QStringList> ${tarv_pch_std})
function(tarv_precompile target kind)
  if(NOT TARV_PCH OR CMAKE_CROSSCOMPILING)
    return()
  endif()
  if(kind STREQUAL "STD")
    set(headers ${tarv_pch_std})
  elseif(kind STREQUAL "QT")
    set(headers ${tarv_pch_qt})
  elseif(kind STREQUAL "WIDGETS")
    set(headers ${tarv_pch_qt} <QWidget>)
  else()
    message(FATAL_ERROR "tarv_precompile: unknown kind ${kind}")
  endif()
  if("GTEST" IN_LIST ARGN)
    list(PREPEND headers <gtest/gtest.h>)
  endif()
  target_precompile_headers(${target} PRIVATE ${headers})
endfunction()

# Sanitizers apply to the whole tree, C caller included: mixing instrumented and
# plain objects gives false reports, above all under ThreadSanitizer.
if(TARV_ASAN AND TARV_TSAN)
  message(FATAL_ERROR "TARV_ASAN and TARV_TSAN cannot be combined")
endif()
# Line tables are all a backtrace or a sanitizer report needs; full debug
# information takes a third of the build, and at -O2 -g the instrumented test
# sources take several times as long to compile as at -O1 -g1.
if(TARV_LINE_TABLES OR TARV_ASAN OR TARV_TSAN)
  add_compile_options(-g1)
endif()
# GCC's flow analysis sees through the instrumentation less well: at -O1 it
# reports uninitialised members of Qt's strings inside std::variant that are
# not (GCC's manual warns of such false positives under the sanitizers).
if(TARV_ASAN OR TARV_TSAN)
  add_compile_options($<$<COMPILE_LANG_AND_ID:CXX,GNU>:-Wno-maybe-uninitialized>)
endif()
if(TARV_ASAN)
  add_compile_options(-O1 -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(TARV_TSAN)
  add_compile_options(-O1 -fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
