# The installed package works on its own: installs the build into a scratch
# prefix, then
#   - builds a C-only consumer project through find_package(cblob) against
#     the shared and the static library, runs both programs (same output,
#     their own checks passed), and checks that only the shared one needs
#     libcblob.so and that the static one carries the library's code;
#   - runs the installed `cblob` tool without LD_LIBRARY_PATH, checks that it
#     loads the library from the prefix and prints what the build-tree tool
#     prints, then moves the prefix elsewhere and checks the same again.
#
# Variables: BUILD_DIR, SOURCE_DIR, BINDIR and LIBDIR (the install
# directories, relative), GENERATOR, C_COMPILER, BUILD_TYPE, NM, and TOOL
# (the build-tree tool; empty when the tools are not built).
set(work ${BUILD_DIR}/package-check)
set(prefix ${work}/prefix)
set(moved ${work}/moved/prefix)
set(consumer ${work}/consumer)
file(REMOVE_RECURSE ${work})

# Runs a command without LD_LIBRARY_PATH; fails the test unless it succeeds.
# Its output is left in `out`.
function(run_checked what)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH ${ARGN}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE output ERROR_VARIABLE error)
  if(NOT rc STREQUAL "0")
    message(FATAL_ERROR "${what} failed (${rc}):\n${output}\n${error}")
  endif()
  set(out "${output}" PARENT_SCOPE)
endfunction()

# The ldd line of libcblob.so for `program`, in `line` (empty when the
# program does not need the library).
find_program(LDD ldd REQUIRED)
function(cblob_ldd_line program)
  run_checked("ldd ${program}" ${LDD} ${program})
  string(REGEX MATCH "libcblob\\.so[^\n]*" match "${out}")
  set(line "${match}" PARENT_SCOPE)
endfunction()

run_checked("installing" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# The consumer, built against the installed package only.
set(generator_args)
if(GENERATOR)
  set(generator_args -G ${GENERATOR})
endif()
run_checked("configuring the consumer" ${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/package/consumer -B ${consumer}
            ${generator_args} -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_BUILD_TYPE=${BUILD_TYPE}
            -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF)
run_checked("building the consumer" ${CMAKE_COMMAND} --build ${consumer})
run_checked("the shared consumer" ${consumer}/consumer_shared)
set(shared_out "${out}")
run_checked("the static consumer" ${consumer}/consumer_static)
if(NOT shared_out MATCHES "cblob consumer: ok" OR NOT shared_out MATCHES "cblob_err_connectivityConflict")
  message(FATAL_ERROR "unexpected output of the shared consumer:\n${shared_out}")
endif()
if(NOT out STREQUAL shared_out)
  message(FATAL_ERROR "the consumers differ:\nshared:\n${shared_out}\nstatic:\n${out}")
endif()
cblob_ldd_line(${consumer}/consumer_shared)
string(FIND "${line}" "=> ${prefix}/${LIBDIR}/" at)
if(at LESS 0)
  message(FATAL_ERROR "the shared consumer does not load the installed libcblob.so: '${line}'")
endif()
cblob_ldd_line(${consumer}/consumer_static)
if(line)
  message(FATAL_ERROR "the static consumer depends on the shared library: '${line}'")
endif()
run_checked("nm of the static consumer" ${NM} ${consumer}/consumer_static)
if(NOT out MATCHES "[0-9a-f]+ T cblob_run8\n")
  message(FATAL_ERROR "the static consumer does not contain cblob_run8")
endif()

if(NOT TOOL)
  return()
endif()

# The installed tool, at the prefix and after the prefix was moved: the same
# output as the build-tree tool, with the library loaded from the prefix.
set(args analyze ${SOURCE_DIR}/samples/coins.png --threshold 110 --csv)
run_checked("the build-tree tool" ${TOOL} ${args})
set(expected "${out}")
string(REGEX MATCHALL "\n" lines "${expected}")
list(LENGTH lines count)
if(count LESS 10)
  message(FATAL_ERROR "the build-tree tool printed too little:\n${expected}")
endif()
foreach(root ${prefix} ${moved})
  if(root STREQUAL "${moved}")
    file(MAKE_DIRECTORY ${work}/moved)
    file(RENAME ${prefix} ${moved})
  endif()
  set(tool ${root}/${BINDIR}/cblob)
  run_checked("the installed tool at ${root}" ${tool} ${args})
  if(NOT out STREQUAL expected)
    message(FATAL_ERROR "the installed tool at ${root} printed something else:\n${out}")
  endif()
  cblob_ldd_line(${tool})
  file(RELATIVE_PATH bin_to_lib ${root}/${BINDIR} ${root}/${LIBDIR})
  string(FIND "${line}" "=> ${root}/${BINDIR}/${bin_to_lib}/" at)
  if(at LESS 0)
    message(FATAL_ERROR "the installed tool at ${root} does not load the library next to it: '${line}'")
  endif()
endforeach()
