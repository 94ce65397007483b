# Installs the built library into a scratch prefix and builds and runs a
# consumer project against it through find_package(cblob).
set(prefix ${BUILD_DIR}/package-check/prefix)
set(consumer ${BUILD_DIR}/package-check/consumer)
file(REMOVE_RECURSE ${BUILD_DIR}/package-check)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} RESULT_VARIABLE rc OUTPUT_QUIET)
if(rc)
  message(FATAL_ERROR "install failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/package/consumer -B ${consumer}
                        -DCMAKE_PREFIX_PATH=${prefix} RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "configuring the consumer failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${consumer} RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "building the consumer failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${prefix}/lib:${prefix}/lib64:${prefix}/lib/x86_64-linux-gnu
                        ${consumer}/consumer RESULT_VARIABLE rc OUTPUT_VARIABLE out)
if(rc OR NOT out MATCHES "cblob_err_badThresh")
  message(FATAL_ERROR "the consumer did not run: ${out}")
endif()
