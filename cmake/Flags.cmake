# Compiler flags, set per target rather than per directory.
#
#   streuwolke_warnings(TARGET)     -Wall -Wextra, and -Werror with
#                                   STREUWOLKE_WERROR=ON. Every target of the
#                                   project gets it; streuwolke_check_warnings()
#                                   at the end of the top-level CMakeLists.txt
#                                   fails the configure for one that does not.
#   streuwolke_exact_float(TARGET)  Every output sample is fixed to the last
#                                   bit: no contraction into fused multiply-adds
#                                   (std::fma is called where one is wanted),
#                                   no fast-math. For every target that computes
#                                   or checks sample values, and harmless
#                                   elsewhere, so when in doubt, apply it.

function(streuwolke_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(STREUWOLKE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  set_property(TARGET ${target} PROPERTY STREUWOLKE_HAS_WARNINGS ON)
endfunction()

function(streuwolke_exact_float target)
  target_compile_options(${target} PRIVATE -ffp-contract=off -fno-fast-math)
endfunction()

# Every compiled target of this project carries streuwolke_warnings().
function(streuwolke_check_warnings)
  set(missing "")
  set(dirs ${CMAKE_CURRENT_SOURCE_DIR})
  while(dirs)
    list(POP_FRONT dirs dir)
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    list(APPEND dirs ${subdirs})
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target ${targets})
      get_property(type TARGET ${target} PROPERTY TYPE)
      if(type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$")
        get_property(has TARGET ${target} PROPERTY STREUWOLKE_HAS_WARNINGS)
        if(NOT has)
          list(APPEND missing ${target})
        endif()
      endif()
    endforeach()
  endwhile()
  if(missing)
    list(JOIN missing ", " missing)
    message(FATAL_ERROR "Targets without streuwolke_warnings(): ${missing}")
  endif()
endfunction()
