# Turns a manual page into plain text that Windows opens (Notepad and the
# like): groff's ASCII output without hyphenation and without the overstrikes
# a terminal shows as bold, underline and bullets; lines ended by CR LF.
# Run as: cmake -DGROFF=... -DPAGE=in.1 -DTEXT=out.txt -P man-to-text.cmake
# (without GROFF or PAGE, the file TEXT is made from SOURCE, line ends alone).
if(PAGE)
  execute_process(
    COMMAND ${GROFF} -man -Tascii -rHY=0 -P-c -P-b -P-u -P-o
    INPUT_FILE ${PAGE}
    OUTPUT_VARIABLE text
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "groff could not format ${PAGE}")
  endif()
else()
  file(READ ${SOURCE} text)
endif()
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${TEXT} "${text}")
