# Installs the build into a scratch prefix, then builds and runs a project
# that finds it with find_package, and runs the installed command's demo.
# -DBUILD_DIR -DCONSUMER_DIR -DSCRATCH -DGENERATOR
file(REMOVE_RECURSE "${SCRATCH}")
file(MAKE_DIRECTORY "${SCRATCH}/work")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err
                  WORKING_DIRECTORY "${SCRATCH}/work")
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "${ARGN}\nexit ${code}\n${out}\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
endfunction()

set(prefix "${SCRATCH}/prefix")
run("${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${prefix}")
foreach(f include/velmora.h lib/libvelmora.so lib/libonnxruntime.so.1 bin/velmora
          lib/cmake/velmora/velmoraConfig.cmake share/velmora/demo/demo_sharpen_t128.onnx)
  if(NOT EXISTS "${prefix}/${f}")
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()

run("${CMAKE_COMMAND}" -S "${CONSUMER_DIR}" -B "${SCRATCH}/consumer" -G "${GENERATOR}"
    "-DCMAKE_PREFIX_PATH=${prefix}")
run("${CMAKE_COMMAND}" --build "${SCRATCH}/consumer")
run("${SCRATCH}/consumer/consumer" "${prefix}/share/velmora/demo/demo_sharpen_t128.onnx")
if(NOT out MATCHES "version 1.207 engine Velmora ONNX" OR NOT out MATCHES "model loaded")
  message(FATAL_ERROR "unexpected consumer output:\n${out}")
endif()

# The installed command finds its demo files under share/ and its library under lib/.
set(ENV{XDG_CONFIG_HOME} "${SCRATCH}/config")
run("${prefix}/bin/velmora")
if(NOT EXISTS "${SCRATCH}/work/velmora-demo-sharpened.png")
  message(FATAL_ERROR "the installed command wrote no demo result:\n${err}")
endif()
file(REMOVE_RECURSE "${SCRATCH}")
