# Compiler settings shared by every target of the project.

# tarv_target_defaults(<target>): warnings (errors under TARV_WERROR) for one target.
function(tarv_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(TARV_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
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
