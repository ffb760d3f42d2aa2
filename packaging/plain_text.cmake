# Writes a text for Windows readers: the file IN, or with GROFF set the
# manual page IN rendered as plain ASCII (no bold, no underline, no
# hyphenation, so that every word can be searched for), to OUT with CR LF
# line ends. Any warning from groff fails the build: the page must be clean.
#
# Usage: cmake -DIN=file -DOUT=file [-DGROFF=/usr/bin/groff] -P plain_text.cmake
if(GROFF)
  execute_process(COMMAND ${GROFF} -man -ww -Tascii -rHY=0 -P-cbou ${IN}
    OUTPUT_VARIABLE text ERROR_VARIABLE warnings RESULT_VARIABLE failed)
  if(failed OR NOT warnings STREQUAL "")
    message(FATAL_ERROR "groff could not render ${IN} cleanly:\n${warnings}")
  endif()
else()
  file(READ ${IN} text)
endif()
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUT} "${text}")
