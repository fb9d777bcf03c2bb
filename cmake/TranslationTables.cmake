# Keeps translations/*.ts in step with the text IDs that src/localization/TextIds.h declares
# (QT_TRID_NOOP with a //% source text), through lupdate.
#   cmake -DLUPDATE=<lupdate> -DSOURCE_DIR=<repository> -P TranslationTables.cmake
#       checks: fails when lupdate would add or drop an ID in a table, or a table has an ID
#       without its translation.
#   cmake -DLUPDATE=<lupdate> -DSOURCE_DIR=<repository> -DUPDATE=ON -P TranslationTables.cmake
#       rewrites the tables; new IDs come in untranslated, for a translator to fill in.
file(GLOB tables ${SOURCE_DIR}/translations/*.ts)
set(scanned ${SOURCE_DIR}/src/localization/TextIds.h)
set(options -silent -locations none -no-obsolete)
if(UPDATE)
  execute_process(COMMAND ${LUPDATE} ${options} ${scanned} -ts ${tables} COMMAND_ERROR_IS_FATAL ANY)
  return()
endif()

set(work ${CMAKE_CURRENT_BINARY_DIR}/translation-tables)
file(REMOVE_RECURSE ${work})
file(COPY ${tables} DESTINATION ${work})
file(GLOB copies ${work}/*.ts)
execute_process(COMMAND ${LUPDATE} ${options} ${scanned} -ts ${copies} COMMAND_ERROR_IS_FATAL ANY)
set(faults)
foreach(table ${tables})
  get_filename_component(name ${table} NAME)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${table} ${work}/${name}
                  RESULT_VARIABLE differs)
  if(differs)
    list(APPEND faults "${name} lacks an ID that TextIds.h declares, or holds one it does not")
  endif()
  file(STRINGS ${table} untranslated REGEX "type=\"unfinished\"")
  if(untranslated)
    list(APPEND faults "${name} has IDs without a translation")
  endif()
  # One wording per language: Chinese names the helper 辅助程序 only, and Japanese writes the
  # full-width colon only.
  if(name MATCHES "zh_CN")
    file(STRINGS ${table} strays ENCODING UTF-8 REGEX "<translation>.*助手程序")
  elseif(name MATCHES "_ja")
    file(STRINGS ${table} strays ENCODING UTF-8 REGEX "<translation>.*:")
  else()
    set(strays)
  endif()
  if(strays)
    list(APPEND faults "${name} words a text unlike the others: ${strays}")
  endif()
endforeach()
file(REMOVE_RECURSE ${work})
if(faults)
  list(JOIN faults "\n" faults)
  message(FATAL_ERROR "${faults}\n(cmake --build <build folder> --target update_translations "
                      "brings the tables in step)")
endif()
