# Fails the build when the core library holds what belongs to a front end: a
# main, or trov's console dialogue. Run after each build of trov_core with
# -DNM=<nm> -DLIBRARY=<the archive>.
execute_process(COMMAND ${NM} -C --defined-only ${LIBRARY} OUTPUT_VARIABLE symbols RESULT_VARIABLE failed ERROR_QUIET)
if(failed)
  message(FATAL_ERROR "${NM} could not list the symbols of ${LIBRARY}")
endif()
foreach(name main wait_for_enter console_window_closes_at_exit window_closes_at_exit typed_code_page write_banner read_word)
  if(symbols MATCHES "[ \t][TtWw] (trov::)?${name}(\\(|\n)")
    message(FATAL_ERROR "the core library defines ${name}: it belongs to a front end (src/apps)")
  endif()
endforeach()
file(STRINGS ${LIBRARY} prompts REGEX "Enter EXPNAM|Press Enter")
if(prompts)
  message(FATAL_ERROR "the core library holds trov's dialogue (${prompts}): it belongs to src/apps/trov")
endif()
