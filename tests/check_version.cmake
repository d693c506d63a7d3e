# Fails unless the hand-written man pages and metainfo name the version that
# project() sets, which the programs show.
string(REPLACE "." "\\." version "${VERSION}")
foreach(page ondelith.1 ondelith-render.1)
  file(STRINGS ${DATA}/${page} header LIMIT_COUNT 1 REGEX "^\\.TH ")
  if(NOT header MATCHES "\"Ondelith ${version}\"")
    message(FATAL_ERROR "${page} does not name version ${VERSION}: ${header}")
  endif()
endforeach()
file(READ ${DATA}/io.github.ondelith.Ondelith.metainfo.xml metainfo)
if(NOT metainfo MATCHES "<release version=\"${version}\"")
  message(FATAL_ERROR "the metainfo has no release ${VERSION}")
endif()
