# Installs the build into a scratch prefix and uses it as a host application
# would: a C and a C++ program built once through find_package(Plinth) and once
# through pkg-config, then run. Also checks the installed layout and that the
# installed tool starts without any library path set.
#
# Run with cmake -P; needs BUILD_DIR, WORK_DIR, CONSUMER_DIR, LIBDIR,
# C_COMPILER, CXX_COMPILER, VERSION, INPUT_WAV and optionally EXTRA_FLAGS.

function(run_step what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${what} failed (${result}):\n${out}\n${err}")
  endif()
  set(step_output "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
run_step("install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

string(REGEX MATCH "^[0-9]+" major "${VERSION}")
foreach(installed
    ${LIBDIR}/libPlinthRateConv.so.${VERSION} ${LIBDIR}/libPlinthRateConv.so.${major} ${LIBDIR}/libPlinthRateConv.so
    ${LIBDIR}/libPlinthTracker.so.${VERSION} ${LIBDIR}/libPlinthTracker.so.${major} ${LIBDIR}/libPlinthTracker.so
    include/plinth/resample_wav.h include/plinth/modwav.h
    bin/plinth share/man/man1/plinth.1
    ${LIBDIR}/cmake/Plinth/PlinthConfig.cmake ${LIBDIR}/cmake/Plinth/PlinthConfigVersion.cmake
    ${LIBDIR}/pkgconfig/plinth-rateconv.pc ${LIBDIR}/pkgconfig/plinth-tracker.pc)
  if(NOT EXISTS ${prefix}/${installed})
    message(FATAL_ERROR "not installed: ${installed}")
  endif()
endforeach()
# The internals stay inside the shared libraries.
file(GLOB_RECURSE static_archives ${prefix}/*.a)
if(static_archives)
  message(FATAL_ERROR "static internals installed: ${static_archives}")
endif()
file(READ ${prefix}/${LIBDIR}/cmake/Plinth/PlinthTargets.cmake targets)
if(targets MATCHES "plinth_(rateconv|tracker)_core|plinth_platform")
  message(FATAL_ERROR "the exported targets name the static internals")
endif()

# The installed tool finds its libraries by itself.
run_step("installed plinth --version" ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH ${prefix}/bin/plinth --version)
if(NOT step_output STREQUAL "plinth ${VERSION}\n")
  message(FATAL_ERROR "installed plinth --version printed '${step_output}'")
endif()

# Through find_package.
set(build ${WORK_DIR}/find-package)
run_step("configure the consumer" ${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${build}
  -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
  "-DCMAKE_C_FLAGS=${EXTRA_FLAGS}" "-DCMAKE_CXX_FLAGS=${EXTRA_FLAGS}" -DCMAKE_BUILD_TYPE=Release)
run_step("build the consumer" ${CMAKE_COMMAND} --build ${build})
foreach(program consumer_c consumer_cxx)
  file(MAKE_DIRECTORY ${build}/${program}-files)
  run_step("${program} (find_package)" ${build}/${program} ${INPUT_WAV} ${build}/${program}-files)
endforeach()

# Through pkg-config, with the compilers called directly.
set(build ${WORK_DIR}/pkg-config)
file(MAKE_DIRECTORY ${build})
run_step("pkg-config" ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${prefix}/${LIBDIR}/pkgconfig
  pkg-config --cflags --libs plinth-rateconv plinth-tracker)
string(STRIP "${step_output}" pkg_flags)
separate_arguments(pkg_flags UNIX_COMMAND "${pkg_flags}")
separate_arguments(extra_flags UNIX_COMMAND "${EXTRA_FLAGS}")
run_step("pkg-config --modversion" ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${prefix}/${LIBDIR}/pkgconfig
  pkg-config --modversion plinth-rateconv)
if(NOT step_output STREQUAL "${VERSION}\n")
  message(FATAL_ERROR "pkg-config reports version '${step_output}'")
endif()
run_step("compile consumer.c" ${C_COMPILER} -std=c99 -Wall -Wextra -Werror ${extra_flags}
  ${CONSUMER_DIR}/consumer.c -o ${build}/consumer_c ${pkg_flags})
run_step("compile consumer.cpp" ${CXX_COMPILER} -std=c++17 -Wall -Wextra -Werror ${extra_flags}
  ${CONSUMER_DIR}/consumer.cpp -o ${build}/consumer_cxx ${pkg_flags})
foreach(program consumer_c consumer_cxx)
  file(MAKE_DIRECTORY ${build}/${program}-files)
  run_step("${program} (pkg-config)" ${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${prefix}/${LIBDIR}
    ${build}/${program} ${INPUT_WAV} ${build}/${program}-files)
endforeach()

file(REMOVE_RECURSE ${WORK_DIR})
