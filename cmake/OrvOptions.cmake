# Flags for our own targets only; dependencies keep their own. Warnings become errors only in
# the project's own checks (scripts/test.sh): a consumer's compiler or build type may warn where
# ours does not, and that must not break their build.
option(ORV_WERROR "Treat warnings in orv's own targets as errors" OFF)
set(ORV_WARNINGS -Wall -Wextra)
if(ORV_WERROR)
  list(APPEND ORV_WARNINGS -Werror)
endif()
# Conversions must give identical bits across builds: no FMA contraction, no fast-math.
set(ORV_FP_FLAGS -ffp-contract=off -fno-fast-math)

if(ORV_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(ORV_SANITIZE_THREAD)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

function(orv_strict target)
  target_compile_options(${target} PRIVATE ${ORV_WARNINGS} ${ORV_FP_FLAGS})
endfunction()

# orv_subsystem(<name> SOURCES ... [DEPS <lower subsystems>...] [LIBS <external targets>...])
#
# Each subsystem compiles once into an object library whose objects go into the one installed
# `orv` library. For tests, tools and benchmarks it is also available as the static library
# `orv_<name>`, which carries its lower subsystems, so a subsystem builds and tests on its own
# and a dependency can only point down (a subsystem can only name those defined before it).
function(orv_subsystem name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS;LIBS" ${ARGN})
  set(obj orv_${name}_obj)
  add_library(${obj} OBJECT ${A_SOURCES})
  target_include_directories(${obj}
    PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include> $<BUILD_INTERFACE:${ORV_GENERATED_INCLUDE}>
    PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_BINARY_DIR}/generated)
  target_compile_definitions(${obj} PRIVATE ORV_SERVICE_BASE_URL="${ORV_SERVICE_BASE_URL}")
  # Only what carries ORV_API (orv/export.h) leaves a shared liborv; everything else, inline
  # members included, stays inside it.
  set_target_properties(${obj} PROPERTIES POSITION_INDEPENDENT_CODE ON
                                          C_VISIBILITY_PRESET hidden
                                          CXX_VISIBILITY_PRESET hidden
                                          VISIBILITY_INLINES_HIDDEN ON)
  foreach(dep IN LISTS A_DEPS)
    target_link_libraries(${obj} PUBLIC orv_${dep}_obj)
  endforeach()
  target_link_libraries(${obj} PUBLIC ${A_LIBS} Threads::Threads)
  orv_strict(${obj})

  add_library(orv_${name} STATIC EXCLUDE_FROM_ALL $<TARGET_OBJECTS:${obj}>)
  target_include_directories(orv_${name} PUBLIC ${PROJECT_SOURCE_DIR}/include
                                                ${ORV_GENERATED_INCLUDE}
                                                ${PROJECT_SOURCE_DIR}/src
                                                ${PROJECT_BINARY_DIR}/generated)
  foreach(dep IN LISTS A_DEPS)
    target_link_libraries(orv_${name} PUBLIC orv_${dep})
  endforeach()
  target_link_libraries(orv_${name} PUBLIC ${A_LIBS} Threads::Threads)

  target_sources(orv PRIVATE $<TARGET_OBJECTS:${obj}>)
  target_link_libraries(orv PRIVATE ${A_LIBS})
endfunction()
