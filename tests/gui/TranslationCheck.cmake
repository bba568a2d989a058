# Fails when a window text has no English translation: lupdate, run on a copy of the
# translation, adds every text it finds in the sources that the file lacks as unfinished.
file(COPY_FILE ${TS} ${WORK}/tandem_en.ts)
execute_process(COMMAND bash ${SCRIPT} ${WORK}/tandem_en.ts RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "lupdate failed (${status})")
endif()
file(READ ${WORK}/tandem_en.ts content)
string(REGEX MATCHALL "<source>[^<]*</source>[ \t\r\n]*<translation type=\"unfinished\"" missing "${content}")
if(missing)
  string(REGEX REPLACE "[ \t\r\n]*<translation type=\"unfinished\"" "" missing "${missing}")
  string(REPLACE ";" "\n  " missing "${missing}")
  message(FATAL_ERROR "texts without an English translation (run scripts/translations.sh, then translate them):\n  ${missing}")
endif()
