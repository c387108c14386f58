# Retrains the example map and compares both files with the bundled ones.
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${TRAINER} ${SOURCE}/../data/iris.csv ${WORK}/iris-map.net ${WORK}/iris.dat
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "train_example failed: ${rc}")
endif()
foreach(name iris-map.net iris.dat)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/${name} ${SOURCE}/${name}
    RESULT_VARIABLE differ)
  if(NOT differ EQUAL 0)
    message(FATAL_ERROR "${name} differs from the bundled file")
  endif()
endforeach()
