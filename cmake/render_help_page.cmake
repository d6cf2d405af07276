# Renders one page of the user guide (Markdown) into a help page the desktop program opens:
# cmark's HTML inside a page of our own, in UTF-8, with links between the pages kept working.
#   cmake -DCMARK=cmark -DINPUT=page.md -DOUTPUT=page.html [-DLANGUAGE=en] -P render_help_page.cmake
# An English page (help/en) may link to a Russian one it has no version of as "../page.md".
execute_process(COMMAND ${CMARK} --unsafe ${INPUT} OUTPUT_VARIABLE body RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmark failed on ${INPUT}")
endif()
# Links to other pages of the guide point at their rendered files.
# (Two replacements: CMake refuses a reference to an optional group that did not take part.)
string(REGEX REPLACE "href=\"(\\.\\./[A-Za-z0-9_]+|[A-Za-z0-9_]+)\\.md#" "href=\"\\1.html#" body "${body}")
string(REGEX REPLACE "href=\"(\\.\\./[A-Za-z0-9_]+|[A-Za-z0-9_]+)\\.md\"" "href=\"\\1.html\"" body "${body}")
if(NOT LANGUAGE)
  set(LANGUAGE ru)
endif()
string(REGEX MATCH "<h1>([^<]*)</h1>" _ "${body}")
set(title "${CMAKE_MATCH_1}")
if(title STREQUAL "" AND LANGUAGE STREQUAL "en")
  set(title "KVTR Configurator")
elseif(title STREQUAL "")
  set(title "Конфигуратор КВТР")
endif()
file(WRITE ${OUTPUT} "<!DOCTYPE html>
<html lang=\"${LANGUAGE}\"><head><meta charset=\"utf-8\"><title>${title}</title>
<style>body{font-family:sans-serif;max-width:60em;margin:1em auto;padding:0 1em;line-height:1.45}
code,pre{background:#f3f3f3}pre{padding:.5em;overflow:auto}table{border-collapse:collapse}
td,th{border:1px solid #bbb;padding:.2em .5em}</style></head><body>
${body}</body></html>
")
