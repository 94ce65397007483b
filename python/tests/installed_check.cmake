# The installed Python package works on its own: installs the build into a
# scratch prefix and imports cblob from there (not from the build tree) with
# the interpreter it was built for; the install folder is where that
# interpreter looks for packages of the prefix /usr/local.
# Variables: BUILD_DIR, PYTHON, PYDIR (the install folder, relative).
set(prefix ${BUILD_DIR}/python_install_check)
file(REMOVE_RECURSE ${prefix})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "installing failed")
endif()
set(script "
import sys, numpy as np, cblob
assert cblob.__file__.startswith('${prefix}/'), cblob.__file__
image = np.zeros((20, 30), np.uint8); image[5:9, 4:10] = 200
result = cblob.analyze(image, threshold=100, holes=False)
assert len(result) == 1 and result[0].area == 24, result
")
execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=PYTHONPATH PYTHONPATH=${prefix}/${PYDIR}
                        ${PYTHON} -c "${script}"
                WORKING_DIRECTORY ${prefix}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the installed package does not work:\n${out}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=PYTHONPATH ${PYTHON} -c
                        "import sys; print('/usr/local/${PYDIR}' in sys.path)"
                OUTPUT_VARIABLE on_path OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT on_path STREQUAL "True")
  message(FATAL_ERROR "${PYTHON} does not look for packages in /usr/local/${PYDIR}")
endif()
file(REMOVE_RECURSE ${prefix})
