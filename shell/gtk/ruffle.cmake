# Ruffle, the Flash player of the browser controls: the npm package that
# `npm ci` puts into node_modules/, installed next to the program. Nothing of it
# is in the repository.
set(TELVORO_RUFFLE_PACKAGE ${PROJECT_SOURCE_DIR}/node_modules/@ruffle-rs/ruffle)
if(NOT EXISTS ${TELVORO_RUFFLE_PACKAGE}/ruffle.js)
  message(WARNING "Ruffle is not in ${TELVORO_RUFFLE_PACKAGE}: run `npm ci` in ${PROJECT_SOURCE_DIR} "
                  "(scripts/setup.sh does), or Flash players will not play")
endif()
# OPTIONAL: a tree without Ruffle still installs; the program then says where it looked.
install(DIRECTORY ${TELVORO_RUFFLE_PACKAGE}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/telvoro/ruffle OPTIONAL
        FILES_MATCHING PATTERN "*.js" PATTERN "*.wasm" PATTERN "LICENSE_*" PATTERN "package.json")
