# lilv's lv2bench, a host nobody here wrote, finds the bundle on LV2_PATH
# (nothing else there), instantiates it and runs it: one line, the time and
# the plug-in's URI, and nothing skipped or refused. RUN is how to start the
# program (an emulator and its arguments first, for another architecture).
set(ENV{LV2_PATH} ${LV2_PATH})
execute_process(COMMAND ${RUN} -n 8192 -b 512
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc TIMEOUT 240)
file(READ ${LV2_PATH}/veltrosa.lv2/manifest.ttl manifest)
if(NOT manifest MATCHES "<([^>]+)>[ \n\t]+a lv2:Plugin")
  message(FATAL_ERROR "no plug-in URI in the bundle's manifest")
endif()
set(uri ${CMAKE_MATCH_1})
if(NOT rc EQUAL 0 OR NOT err STREQUAL "" OR NOT out MATCHES "^[0-9]+\\.[0-9]+ ${uri}\n$")
  message(FATAL_ERROR "lv2bench (${rc}) did not run <${uri}>:\n${out}${err}")
endif()
message(STATUS "lv2bench: ${out}")
