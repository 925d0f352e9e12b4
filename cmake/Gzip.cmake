# cmake -DINPUT=file -DOUTPUT=file.gz -P Gzip.cmake: compresses as Debian wants it, gzip -9n.
get_filename_component(folder ${OUTPUT} DIRECTORY)
file(MAKE_DIRECTORY ${folder})
execute_process(COMMAND gzip -9nc INPUT_FILE ${INPUT} OUTPUT_FILE ${OUTPUT}.part
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE ${OUTPUT}.part)
  message(FATAL_ERROR "gzip failed on ${INPUT}")
endif()
file(RENAME ${OUTPUT}.part ${OUTPUT})
